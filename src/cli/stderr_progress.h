// Progress of a command-line render on standard error: a bar redrawn in place on a
// terminal, one line per stage otherwise, nothing when quiet.
#pragma once

#include <chrono>
#include <string>

#include "core/progress.h"

namespace globeforge {

class StderrProgress : public ProgressSink {
public:
    StderrProgress(RenderContext& ctx, bool quiet, bool terminal);
    void DrawProgressImage(const FloatImage&) override {}
    void SetMessage(std::string_view message) override;
    void ProcessPendingEvents() override;
    // Ends the bar's line on a terminal.
    void Finish();

private:
    void Draw();

    RenderContext& ctx_;
    bool quiet_;
    bool terminal_;
    bool barShown_ = false;
    std::string message_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace globeforge
