// What a batch shows while it runs: one summary line per planet on standard error and, on a
// terminal, a bar of the planets done with the latest stage of a planet in progress.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "core/progress.h"
#include "image/float_image.h"

namespace globeforge {

using BatchClock = std::chrono::steady_clock;

// Standard error for every planet at once: one summary line per planet and, on a terminal,
// a bar of planets done with the latest stage of a planet in progress.
class ProgressBoard {
  public:
    ProgressBoard(size_t total, bool bar) : total_(total), bar_(bar) {}

    void Stage(const std::string& name, std::string_view message) {
        if (!bar_) return;
        std::lock_guard lock(mutex_);
        stage_ = name + ": " + std::string(message);
        DrawLocked();
    }

    // Called for every row a render finishes: redrawn at most ten times a second.
    void Tick() {
        if (!bar_) return;
        std::unique_lock lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock() || BatchClock::now() - lastDraw_ < std::chrono::milliseconds(100)) {
            return;
        }
        DrawLocked();
    }

    void PlanetEnded(const std::string& name, const std::string& what) {
        std::lock_guard lock(mutex_);
        ++ended_;
        if (bar_) std::fputs("\r\033[K", stderr);
        std::fprintf(stderr, "[%zu/%zu] %s: %s\n", ended_, total_, name.c_str(), what.c_str());
        if (bar_ && ended_ < total_) DrawLocked();
        std::fflush(stderr);
    }

    void Finish() {
        std::lock_guard lock(mutex_);
        if (bar_) std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }

  private:
    void DrawLocked() {
        lastDraw_ = BatchClock::now();
        constexpr size_t kWidth = 24;
        const size_t filled = total_ ? ended_ * kWidth / total_ : kWidth;
        std::string bar(filled, '#');
        bar.append(kWidth - filled, '-');
        std::string stage = stage_;
        if (stage.size() > 60) {
            // Cut on a character boundary: the stage messages are Japanese.
            size_t end = 57;
            while (end > 0 && (static_cast<unsigned char>(stage[end]) & 0xC0) == 0x80) --end;
            stage = stage.substr(0, end) + "...";
        }
        std::fprintf(stderr, "\r[%s] %zu/%zu  %s\033[K", bar.c_str(), ended_, total_,
                     stage.c_str());
        std::fflush(stderr);
    }

    std::mutex mutex_;
    size_t total_;
    size_t ended_ = 0;
    bool bar_;
    std::string stage_;
    BatchClock::time_point lastDraw_{};
};

class PlanetProgress : public ProgressSink {
  public:
    PlanetProgress(RenderContext& ctx, ProgressBoard& board, const std::string& name,
                   const std::atomic<bool>* stop)
        : ctx_(ctx), board_(board), name_(name), stop_(stop) {}
    void DrawProgressImage(const FloatImage&) override {}
    bool ShowsImages() const override { return false; }
    void SetMessage(std::string_view message) override { board_.Stage(name_, message); }
    void ProcessPendingEvents() override {
        // The render clears its abort flag when it starts: a stop that came before must
        // still reach it.
        if (stop_ && stop_->load()) ctx_.AbortRequested.store(true);
        board_.Tick();
    }

  private:
    RenderContext& ctx_;
    ProgressBoard& board_;
    const std::string& name_;
    const std::atomic<bool>* stop_;
};

}  // namespace globeforge
