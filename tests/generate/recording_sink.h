// A progress sink for the generator tests: records every message with the generator state
// at that moment, counts event rounds and can request an abort after a number of them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "render/progress.h"

namespace globeforge {

class RecordingSink : public ProgressSink {
  public:
    explicit RecordingSink(RenderContext& c, int64_t abortAfterEvents = -1)
        : ctx(c), remaining(abortAfterEvents) {
        ctx.SetProgressTargets(this);
    }
    ~RecordingSink() override { ctx.SetProgressTargets(nullptr); }

    void DrawProgressImage(const FloatImage& image) override {
        images.emplace_back(image.Width, image.Height);
    }
    void SetMessage(std::string_view message) override {
        messages.emplace_back(std::string(message), ctx.rng.state);
    }
    void ProcessPendingEvents() override {
        ++events;
        percents.push_back(ctx.ProgressPercent);
        if (remaining > 0 && --remaining == 0) ctx.AbortRequested = true;
    }

    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> texts;
        for (const auto& m : messages) texts.push_back(m.first);
        return texts;
    }

    RenderContext& ctx;
    int64_t remaining;
    int64_t events = 0;
    std::vector<std::pair<std::string, uint32_t>> messages;
    std::vector<std::pair<int32_t, int32_t>> images;
    std::vector<int32_t> percents;
};

}  // namespace globeforge
