// Progress of a command-line render on standard error: a bar redrawn in place on a
// terminal, one line per stage otherwise, nothing when quiet.
#pragma once

#include <chrono>
#include <string>

#include "core/language.h"
#include "core/progress.h"

namespace globeforge {

class StderrProgress : public ProgressSink {
  public:
    // Messages are shown in the given language.
    StderrProgress(RenderContext& ctx, bool quiet, bool terminal,
                   Language language = Language::Japanese);
    void DrawProgressImage(const FloatImage&) override {}
    bool ShowsImages() const override { return false; }
    void SetMessage(std::string_view message) override;
    void ProcessPendingEvents() override;
    // Ends the bar's line on a terminal.
    void Finish();

  private:
    void Draw();

    RenderContext& ctx_;
    bool quiet_;
    bool terminal_;
    Language language_;
    bool barShown_ = false;
    std::string message_;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace globeforge
