// Shared inputs of the benchmarks: the example planet's parameters at any size, and layers
// with realistic content for the stages that start from one.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>
#include <string>

#include "core/progress.h"
#include "core/render_params.h"
#include "image/float_image.h"
#include "random/lcg32.h"
#include "settings/gather_render_params.h"
#include "settings/settings_file.h"

namespace globeforge::bench {

// examples/default.ORB at width x height with the given oversampling. The file names six
// maps; the builders only need the names to be there.
inline RenderParams ExampleParams(int32_t width, int32_t height, int32_t overSampling = 1) {
    SettingsModel model;
    const SettingsResult loaded =
        LoadSettings(model, std::string(GLOBEFORGE_SOURCE_DIR) + "/examples/default.ORB");
    if (!loaded.ok) std::abort();
    RenderParams params = GatherRenderParams(model);
    params.OutputResolutionX = width;
    params.OutputResolutionY = height;
    params.OverSampling = overSampling;
    return params;
}

// A layer of smooth pseudo-random relief on the 0..256 scale, R = G = B, opaque: what the
// map builders and the warp see after generation.
inline FloatImage ReliefLayer(int32_t width, int32_t height, int32_t seed) {
    FloatImage image = *NewImage(width, height);
    Lcg32 rng(seed);
    const double a = rng.RandomReal() * 6.0 + 2.0;
    const double b = rng.RandomReal() * 6.0 + 2.0;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const double u = static_cast<double>(x) / width * 6.283185307179586;
            const double v = static_cast<double>(y) / height * 3.141592653589793;
            const double s = std::sin(u * a) * std::cos(v * b) + 0.3 * std::sin(u * 17 + v * 11);
            const float value = static_cast<float>(128.0 + 100.0 * s);
            image.At(x, y) = {value, value, value, 255.0f};
        }
    }
    return image;
}

// A warp map with independent smooth channels, as the composed filters give.
inline FloatImage WarpMapLayer(int32_t width, int32_t height) {
    FloatImage r = ReliefLayer(width, height, 1);
    const FloatImage g = ReliefLayer(width, height, 2);
    const FloatImage b = ReliefLayer(width, height, 3);
    for (size_t i = 0; i < r.PixelCount(); ++i) {
        r.Data()[i].G = g.Data()[i].R;
        r.Data()[i].B = b.Data()[i].R;
    }
    return r;
}

// A render context without progress targets, with the benchmark's thread count.
inline void Configure(RenderContext& ctx, const benchmark::State& state, int threadArg) {
    ctx.threads = static_cast<int>(state.range(threadArg));
    ctx.AbortRequested = false;
}

inline void SetPixelsProcessed(benchmark::State& state, int64_t width, int64_t height) {
    state.SetItemsProcessed(state.iterations() * width * height);
    state.counters["threads"] = static_cast<double>(state.range(1));
}

}  // namespace globeforge::bench
