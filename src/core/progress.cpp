#include "core/progress.h"

#include <algorithm>

namespace globeforge {

void RenderContext::ReportProgress(const FloatImage* image, std::string_view message) {
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

void RenderContext::SetPercent(int64_t done, int64_t total) {
    if (total == 0) {
        ProgressPercent.store(100, std::memory_order_relaxed);
        return;
    }
    const Extended ratio = static_cast<Extended>(done) / static_cast<Extended>(total) * 100.0L;
    ProgressPercent.store(Round(ratio), std::memory_order_relaxed);
}

}  // namespace globeforge
