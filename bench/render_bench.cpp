// Whole renders of examples/default.ORB: the 128 x 128 preview and full renders at
// 1024 x 512 and 2048 x 1024. Arguments: output width (the height is half of it, or equal for
// the preview), thread count.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "render/render_planet.h"

namespace globeforge::bench {
namespace {

void RenderExample(benchmark::State& state, int32_t width, int32_t height) {
    RenderContext ctx;
    Configure(ctx, state, 1);
    for (auto _ : state) {
        RenderParams params = ExampleParams(width, height);
        if (!RenderPlanet(params, ctx)) state.SkipWithError(ctx.failure.c_str());
        benchmark::DoNotOptimize(params.ColorMapImage->Data());
    }
    SetPixelsProcessed(state, width, height);
}

void BM_WholeRender(benchmark::State& state) {
    const int32_t w = static_cast<int32_t>(state.range(0));
    RenderExample(state, w, w / 2);
}
BENCHMARK(BM_WholeRender)
    ->ArgNames({"width", "threads"})
    ->Args({1024, 1})
    ->Args({1024, 2})
    ->Args({2048, 1})
    ->Args({2048, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Preview(benchmark::State& state) {
    RenderExample(state, 128, 128);
}
BENCHMARK(BM_Preview)
    ->ArgNames({"width", "threads"})
    ->Args({128, 1})
    ->Args({128, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace globeforge::bench

BENCHMARK_MAIN();
