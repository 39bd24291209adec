// The globe: one frame of a prepared scene at 512 x 512 and 1024 x 1024, with and without
// the cloud layer, and the preparation of the scene from 2048 x 1024 maps. Arguments:
// picture side, clouds (0/1), thread count.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "globe/globe.h"

namespace globeforge::bench {
namespace {

// Colour, bump, specular and the two cloud maps, with smooth pseudo-random content.
struct GlobeInputs {
    FloatImage color = ReliefLayer(2048, 1024, 11);
    FloatImage bump = ReliefLayer(2048, 1024, 12);
    FloatImage specular = ReliefLayer(2048, 1024, 13);
    FloatImage cloudColor = ReliefLayer(2048, 1024, 14);
    FloatImage cloudTransparency = ReliefLayer(2048, 1024, 15);

    GlobeMaps Maps() const {
        return {&color, &bump, nullptr, &specular, &cloudColor, &cloudTransparency, false};
    }
};

const GlobeInputs& Inputs() {
    static const GlobeInputs inputs;
    return inputs;
}

void BM_GlobeFrame(benchmark::State& state) {
    const int32_t side = static_cast<int32_t>(state.range(0));
    RenderContext ctx;
    Configure(ctx, state, 2);
    const GlobeScene scene = *GlobeScene::Prepare(Inputs().Maps(), ctx);
    GlobeCamera camera;
    camera.longitude = 30;
    camera.latitude = 20;
    GlobeOptions options;
    options.width = options.height = side;
    options.clouds = state.range(1) != 0;
    for (auto _ : state) {
        std::optional<GlobeImage> image = RenderGlobe(scene, camera, {40, 20}, options, ctx);
        benchmark::DoNotOptimize(image->rgba.data());
        camera.longitude += 1;  // a turning planet, as in the window
    }
    state.SetItemsProcessed(state.iterations() * side * side);
    state.counters["threads"] = static_cast<double>(state.range(2));
}
BENCHMARK(BM_GlobeFrame)
    ->ArgNames({"side", "clouds", "threads"})
    ->Args({512, 0, 1})
    ->Args({512, 1, 1})
    ->Args({1024, 0, 1})
    ->Args({1024, 1, 1})
    ->Args({512, 1, 2})
    ->Args({1024, 1, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_GlobePrepare(benchmark::State& state) {
    RenderContext ctx;
    Configure(ctx, state, 0);
    for (auto _ : state) {
        std::optional<GlobeScene> scene = GlobeScene::Prepare(Inputs().Maps(), ctx);
        benchmark::DoNotOptimize(&scene);
    }
    state.counters["threads"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_GlobePrepare)
    ->ArgNames({"threads"})
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace globeforge::bench
