// Progress and abort: every stage reports through this facility. The window and the
// command-line renderer implement ProgressSink to show the image under construction, the
// message line and to let their own events run; the core never depends on either.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/parallel.h"
#include "image/float_image.h"
#include "image/scalar_image.h"
#include "random/lcg32.h"

namespace globeforge {

class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    // Draw the intermediate image (scaled to the preview, whatever its size).
    virtual void DrawProgressImage(const FloatImage& image) = 0;
    // False for a sink that ignores the images: none is then made for it.
    virtual bool ShowsImages() const { return true; }
    // Set the message line.
    virtual void SetMessage(std::string_view message) = 0;
    // Let pending user events run (repaints, timer ticks, the abort button).
    virtual void ProcessPendingEvents() = 0;
};

// Receives every image a stage reports, at full size and before any reduction for display,
// with the stage's message. A false result, with a reason, stops the render as a failure.
class StageObserver {
  public:
    virtual ~StageObserver() = default;
    virtual bool ObserveStage(const FloatImage& image, std::string_view message,
                              std::string& error) = 0;
    // A gray image: the FloatImage (v, v, v, 255) it stands for.
    virtual bool ObserveStage(const ScalarImage& image, std::string_view message,
                              std::string& error) = 0;
};

// The state of one render and the facility its stages report to. The flags are atomics so
// a window thread may read the percentage and set the abort flag while a render runs.
class RenderContext {
  public:
    Lcg32 rng;                                // the shared random generator
    std::atomic<bool> AbortRequested{false};  // set by the abort command
    std::atomic<bool> Rendering{false};       // true while RenderPlanet runs
    std::atomic<int32_t> ProgressPercent{0};  // 0..100 of the current stage
    std::atomic<int32_t> ProgressCount{0};    // progress reports since the render began
    int threads = 1;                          // threads for per-pixel work, the caller's included
    std::string failure;                      // why the last render failed, if not aborted

    // The persistent workers for ParallelForBands: threads - 1 of them (at most
    // kMaxThreads - 1), made on first use and remade when threads changes; null when the
    // work runs on the calling thread alone.
    ThreadPool* Pool();
    static constexpr int kMaxThreads = 256;

    // Where ReportProgress draws; null means nothing is drawn, counted or processed.
    void SetProgressTargets(ProgressSink* sink) { sink_ = sink; }
    ProgressSink* ProgressTargets() const { return sink_; }

    // Who sees each reported image in full; null (the default) costs nothing.
    void SetStageObserver(StageObserver* observer) { observer_ = observer; }

    // Whether anyone sees the images given to ReportProgress: a stage may then leave out
    // parts of an image that only the display or an observer would read.
    bool ImagesWatched() const { return observer_ || (sink_ && sink_->ShowsImages()); }

    // Called by the driver with each map as soon as it is finished: the map does not change
    // after, and stays in its place in the parameters until the next render.
    std::function<void(const FloatImage& map)> mapFinished;

    // End of a sub-step: show the image (if any) and the message, count, process events.
    void ReportProgress(const FloatImage* image, std::string_view message);
    void ReportProgress(const FloatImage& image, std::string_view message) {
        ReportProgress(&image, message);
    }
    // The same for a gray image; the display gets a reduced copy of a large one, the
    // observer the image itself.
    void ReportProgress(const ScalarImage& image, std::string_view message);

    // Lets the window handle pending events (a no-op without targets).
    void ProcessPendingEvents() {
        if (sink_) sink_->ProcessPendingEvents();
    }

    // ProgressPercent := Round(done / total * 100); a total of 0 counts as finished.
    void SetPercent(int64_t done, int64_t total);

    // The end of one row (or stamp, crater, ...): percentage, events, then the abort test.
    // Returns true when the stage must stop.
    bool StepDone(int64_t done, int64_t total) {
        SetPercent(done, total);
        ProcessPendingEvents();
        return AbortRequested.load(std::memory_order_relaxed);
    }

    bool Aborted() const { return AbortRequested.load(std::memory_order_relaxed); }

    // Layer-sized images a stage has finished with are kept as spares for the next image of
    // the same size, whose memory then need not be faulted in afresh, page by page. A request
    // for another size releases them all first, and the driver releases them before the
    // stages that need other large blocks, so they never add to the most a render holds.
    // NewImage: a spare of that size, else a new image (nullopt when the memory cannot be
    // had); the content is unspecified either way.
    std::optional<FloatImage> NewImage(int32_t width, int32_t height);
    void KeepSpare(FloatImage&& image) { spares_.push_back(std::move(image)); }
    void ReleaseSpares() { spares_.clear(); }
    size_t SpareCount() const { return spares_.size(); }

  private:
    template <class Image>
    void Observe(const Image& image, std::string_view message);
    void Show(const FloatImage* image, std::string_view message);

    ProgressSink* sink_ = nullptr;
    StageObserver* observer_ = nullptr;
    std::unique_ptr<ThreadPool> pool_;
    std::vector<FloatImage> spares_;
};

}  // namespace globeforge
