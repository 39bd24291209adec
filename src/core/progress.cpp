#include "core/progress.h"

#include <algorithm>
#include <optional>

namespace globeforge {

void RenderContext::ReportProgress(const FloatImage* image, std::string_view message) {
    if (observer_ && image) Observe(*image, message);
    Show(image, message);
}

void RenderContext::ReportProgress(const ScalarImage& image, std::string_view message) {
    if (observer_) Observe(image, message);
    if (!sink_) return;
    if (!sink_->ShowsImages()) {
        Show(nullptr, message);
        return;
    }
    // The display needs no more than this; a full-size copy of a large polar image would
    // cost as much as the image itself.
    constexpr uint64_t kShownPixels = uint64_t{1} << 22;
    const std::optional<FloatImage> shown = GrayForDisplay(image, kShownPixels);
    Show(shown ? &*shown : nullptr, message);
}

// After a failure (the observer's own included) nothing more is observed: the stages are
// winding down and their images are not what was asked for.
template <class Image>
void RenderContext::Observe(const Image& image, std::string_view message) {
    if (image.PixelCount() == 0 || !failure.empty()) return;
    std::string error;
    if (!observer_->ObserveStage(image, message, error)) {
        failure = error.empty() ? std::string("a stage image could not be kept") : error;
        AbortRequested.store(true, std::memory_order_relaxed);
    }
}

void RenderContext::Show(const FloatImage* image, std::string_view message) {
    if (!sink_) return;
    if (image && image->PixelCount() > 0) sink_->DrawProgressImage(*image);
    ProgressCount.fetch_add(1, std::memory_order_relaxed);
    sink_->SetMessage(message);
    sink_->ProcessPendingEvents();
}

ThreadPool* RenderContext::Pool() {
    const int wanted = std::clamp(threads, 1, kMaxThreads);
    if (wanted == 1) return nullptr;
    if (!pool_ || pool_->Workers() != wanted - 1) {
        pool_.reset();
        pool_ = std::make_unique<ThreadPool>(wanted - 1);
    }
    return pool_.get();
}

std::optional<FloatImage> RenderContext::NewImage(int32_t width, int32_t height) {
    for (size_t i = 0; i < spares_.size(); ++i) {
        if (spares_[i].Width == width && spares_[i].Height == height) {
            std::optional<FloatImage> image = std::move(spares_[i]);
            spares_.erase(spares_.begin() + static_cast<std::ptrdiff_t>(i));
            return image;
        }
    }
    ReleaseSpares();
    return globeforge::NewImage(width, height);
}

void RenderContext::SetPercent(int64_t done, int64_t total) {
    if (total == 0) {
        ProgressPercent.store(100, std::memory_order_relaxed);
        return;
    }
    const Extended ratio = static_cast<Extended>(done) / static_cast<Extended>(total) * 100.0L;
    ProgressPercent.store(Round(ratio), std::memory_order_relaxed);
}

}  // namespace globeforge
