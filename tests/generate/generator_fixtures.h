// Helpers for the generator tests: a progress sink that records each message with the
// generator state at that moment and can request an abort after a number of event rounds,
// and small image and parameter utilities.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "core/progress.h"
#include "core/render_params.h"
#include "image/image_files.h"
#include "support/test_files.h"

namespace globeforge {
inline namespace generator_support {

class RecordingSink : public ProgressSink {
  public:
    explicit RecordingSink(RenderContext& c, int64_t abortAfterEvents = -1)
        : ctx(c), remaining(abortAfterEvents) {
        ctx.SetProgressTargets(this);
    }
    ~RecordingSink() override { ctx.SetProgressTargets(nullptr); }
    void DrawProgressImage(const FloatImage&) override {}
    void SetMessage(std::string_view message) override {
        texts.emplace_back(message);
        states.push_back(ctx.rng.state);
    }
    void ProcessPendingEvents() override {
        ++events;
        percents.push_back(ctx.ProgressPercent);
        if (remaining > 0 && --remaining == 0) ctx.AbortRequested = true;
    }

    RenderContext& ctx;
    int64_t remaining;
    int64_t events = 0;
    std::vector<std::string> texts;
    std::vector<uint32_t> states;
    std::vector<int32_t> percents;
};

inline FloatImage MakeImage(int32_t w, int32_t h, FloatPixel fill = kOpaqueBlack) {
    auto image = NewFilledImage(w, h, fill);
    EXPECT_TRUE(image.has_value());
    return image ? std::move(*image) : FloatImage{};
}

inline bool SamePixels(const FloatImage& a, const FloatImage& b) {
    return a.Width == b.Width && a.Height == b.Height &&
           std::equal(a.Data(), a.Data() + a.PixelCount(), b.Data());
}

// FNV-1a over the pixel bytes: pins a layer bit for bit.
inline uint64_t Fingerprint(const FloatImage& image) {
    uint64_t h = 1469598103934665603ull;
    const auto* bytes = reinterpret_cast<const unsigned char*>(image.Data());
    for (size_t i = 0; i < image.PixelCount() * sizeof(FloatPixel); ++i) {
        h = (h ^ bytes[i]) * 1099511628211ull;
    }
    return h;
}

// The state of a generator seeded with seed after n draws.
inline uint32_t StateAfter(int32_t seed, uint64_t n) {
    Lcg32 rng(seed);
    rng.Advance(n);
    return rng.state;
}

// A small layer render with its brush allocated as the driver does.
inline RenderParams LayerParams(int32_t seed, int32_t w, int32_t h, int32_t overSampling = 1) {
    RenderParams params;
    params.RandomSeed = seed;
    params.OutputResolutionX = w;
    params.OutputResolutionY = h;
    params.OverSampling = overSampling;
    params.WorkImage =
        std::make_unique<FloatImage>(MakeImage(w * overSampling / 2, h * overSampling / 2));
    return params;
}

// A temporary folder holding a flat picture (200, 100, 40) in a lossless file.
class PictureFolder : public ::testing::Test {
  protected:
    // Empty when no codec can write the file yet.
    std::string SaveFlatPicture(int32_t w, int32_t h) {
        const std::string name = (dir_ / "picture.bmp").string();
        if (!SaveImageFile(MakeImage(w, h, {200.0f, 100.0f, 40.0f, 255.0f}), name)) return {};
        return name;
    }

    // The flat picture resampled over opaque black: each channel times 255 / 256.
    static constexpr FloatPixel kPrepared{199.21875f, 99.609375f, 39.84375f, 255.0f};
    testing::ScratchDir scratch_;
    const std::filesystem::path& dir_ = scratch_.path();
};

}  // namespace generator_support
}  // namespace globeforge
