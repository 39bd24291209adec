#include "cli/stderr_progress.h"

#include <algorithm>
#include <cstdio>

namespace globeforge {

StderrProgress::StderrProgress(RenderContext& ctx, bool quiet, bool terminal, Language language)
    : ctx_(ctx), quiet_(quiet), terminal_(terminal), language_(language) {}

void StderrProgress::SetMessage(std::string_view message) {
    message_ = LocalizedStageMessage(message, language_);
    if (quiet_) return;
    if (terminal_) {
        Draw();
    } else {
        std::fprintf(stderr, "%s\n", message_.c_str());
    }
}

void StderrProgress::ProcessPendingEvents() {
    if (quiet_ || !terminal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < std::chrono::milliseconds(100)) return;
    Draw();
}

void StderrProgress::Draw() {
    lastDraw_ = std::chrono::steady_clock::now();
    const int percent = std::clamp(ctx_.ProgressPercent.load(), 0, 100);
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '-');
    // \033[K clears what a longer earlier message left on the line.
    std::fprintf(stderr, "\r[%s] %3d%%  %s\033[K", bar.c_str(), percent, message_.c_str());
    std::fflush(stderr);
    barShown_ = true;
}

void StderrProgress::Finish() {
    if (barShown_ && terminal_ && !quiet_) std::fprintf(stderr, "\n");
    barShown_ = false;
}

}  // namespace globeforge
