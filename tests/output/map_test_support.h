// Small hand-made layers and a progress sink for the map builder tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "core/progress.h"
#include "core/render_params.h"
#include "image/float_image.h"

namespace globeforge::testing {
inline namespace map_support {

// A layer whose R, G and B carry value(x, y), opaque.
inline FloatImage MakeLayer(int32_t w, int32_t h, const std::function<float(int, int)>& value) {
    FloatImage image = *NewImage(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const float v = value(x, y);
            image.At(x, y) = {v, v, v, 255.0f};
        }
    }
    return image;
}

inline FloatImage UniformLayer(int32_t w, int32_t h, float v) {
    return MakeLayer(w, h, [v](int, int) { return v; });
}

// Output size w x h at oversampling 1, with colours that tell the ramps apart.
inline RenderParams SmallParams(int32_t w, int32_t h) {
    RenderParams p;
    p.OutputResolutionX = w;
    p.OutputResolutionY = h;
    p.OverSampling = 1;
    p.GroundColorLow = MakeColor(200, 180, 160);
    p.GroundColorHigh = MakeColor(100, 40, 20);
    p.SeaColorDeep = MakeColor(0, 0, 100);
    p.SeaColorShallow = MakeColor(0, 60, 220);
    p.IceColor = MakeColor(250, 252, 254);
    p.CloudLightColor = MakeColor(40, 60, 80);
    p.CloudDarkColor = MakeColor(240, 230, 220);
    return p;
}

inline void ExpectColor(const FloatPixel& p, const FloatPixel& want, double tol = 1e-3) {
    EXPECT_NEAR(p.R, want.R, tol);
    EXPECT_NEAR(p.G, want.G, tol);
    EXPECT_NEAR(p.B, want.B, tol);
}

inline bool AllFinite(const FloatImage& image) {
    for (size_t i = 0; i < image.PixelCount(); ++i) {
        const FloatPixel& p = image.Data()[i];
        if (!std::isfinite(p.R) || !std::isfinite(p.G) || !std::isfinite(p.B) ||
            !std::isfinite(p.A))
            return false;
    }
    return true;
}

// Records what the builders report and raises the abort flag at a chosen event.
class RecordingSink : public ProgressSink {
  public:
    explicit RecordingSink(RenderContext& ctx, int abortAtEvent = -1)
        : ctx_(ctx), abortAtEvent_(abortAtEvent) {
        ctx.SetProgressTargets(this);
    }
    void DrawProgressImage(const FloatImage& image) override {
        drawnSizes.push_back({image.Width, image.Height});
    }
    void SetMessage(std::string_view message) override { messages.emplace_back(message); }
    void ProcessPendingEvents() override {
        if (++events == abortAtEvent_) ctx_.AbortRequested = true;
    }

    int events = 0;
    std::vector<std::string> messages;
    std::vector<std::pair<int32_t, int32_t>> drawnSizes;

  private:
    RenderContext& ctx_;
    int abortAtEvent_;
};

}  // namespace map_support
}  // namespace globeforge::testing
