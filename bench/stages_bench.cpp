// One benchmark per stage of a render, at layer sizes 1024 x 512 and 2048 x 1024, each with
// 1 and 2 threads. Arguments: layer width (the height is half of it), thread count.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "bench_support.h"
#include "generate/cloud_layer.h"
#include "generate/craters.h"
#include "generate/ground_layer.h"
#include "generate/patterns.h"
#include "generate/stamping.h"
#include "generate/warp.h"
#include "image/image_files.h"
#include "image/png_file.h"
#include "render/cloud_maps.h"
#include "render/ground_maps.h"

namespace globeforge::bench {
namespace {

constexpr int32_t kSeed = 65536;

void StageArgs(benchmark::internal::Benchmark* b) {
    b->ArgNames({"width", "threads"});
    for (const int64_t width : {1024, 2048}) {
        for (const int64_t threads : {1, 2}) b->Args({width, threads});
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

// The disc of every brush kind of the ground's base pattern, without carving (count 0).
void BM_BrushRedraw(benchmark::State& state) {
    const int32_t w = static_cast<int32_t>(state.range(0));
    FloatImage brush = *NewImage(w / 2, w / 4);
    RenderContext ctx;
    BrushCache brushes;
    Configure(ctx, state, 1);
    ctx.rng = Lcg32(kSeed);
    for (auto _ : state) {
        DomePattern(brush, true, true, true, 0, 4.0, brushes, ctx);
        DomePattern(brush, true, true, true, 0, -4.0, brushes, ctx);
        RingPattern(brush, true, true, true, 0, 4.0, brushes, ctx);
        benchmark::DoNotOptimize(brush.Data());
    }
    SetPixelsProcessed(state, 3 * brush.Width, brush.Height);
}
BENCHMARK(BM_BrushRedraw)->Apply(StageArgs);

// Carving eight random domes into a brush, with the clip and the coverage copy.
void BM_Carving(benchmark::State& state) {
    const int32_t w = static_cast<int32_t>(state.range(0));
    FloatImage brush = *NewImage(w / 2, w / 4);
    RenderContext ctx;
    BrushCache brushes;
    Configure(ctx, state, 1);
    ctx.rng = Lcg32(kSeed);
    DomePattern(brush, true, true, true, 0, 4.0, brushes, ctx);
    for (auto _ : state) {
        CarveRandomDomes(brush, true, true, true, 8, 4.0, brushes, ctx);
        benchmark::DoNotOptimize(brush.Data());
    }
    SetPixelsProcessed(state, brush.Width, brush.Height);
}
BENCHMARK(BM_Carving)->Apply(StageArgs);

// The ground's 2400 base stamps with their brush redraws, stamped into the layer image
// (planes 0) or into a value and an alpha plane (planes 1), as the render does.
void BM_BasePatternPass(benchmark::State& state) {
    const int32_t w = static_cast<int32_t>(state.range(0));
    const RenderParams params = ExampleParams(w, w / 2);
    const auto passes = GroundStampPasses(params, w);
    FloatImage brush = *NewImage(w / 2, w / 4);
    FloatImage layer = *NewImage(w, w / 2);
    RenderContext ctx;
    BrushCache brushes;
    Configure(ctx, state, 1);
    for (auto _ : state) {
        FillImage(layer, kOpaqueBlack);
        ctx.rng = Lcg32(kSeed);
        if (state.range(2) != 0) {
            RunStampPassOnGray(passes[0], brush, brushes, layer, ctx);
        } else {
            RunStampPass(passes[0], brush, brushes, layer, ctx);
        }
        benchmark::DoNotOptimize(layer.Data());
    }
    SetPixelsProcessed(state, w, w / 2);
}
BENCHMARK(BM_BasePatternPass)
    ->ArgNames({"width", "threads", "planes"})
    ->ArgsProduct({{1024, 2048}, {1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Sees every stage image and keeps none: the stages then make whole images.
class WatchingObserver : public StageObserver {
  public:
    bool ObserveStage(const FloatImage&, std::string_view, std::string&) override { return true; }
    bool ObserveStage(const ScalarImage&, std::string_view, std::string&) override { return true; }
};

// A layer's warp map: its three warp filters (the ground's 600 + 60 + 60 stamps, the
// clouds' 800 + 300 + 250) and their composition. Arguments: width, threads, clouds (0 or
// 1), watched (1: a stage observer sees the filters' images, so they are whole).
void BM_WarpMap(benchmark::State& state) {
    const int32_t w = static_cast<int32_t>(state.range(0));
    const RenderParams params = ExampleParams(w, w / 2);
    const auto passes =
        state.range(2) != 0 ? CloudStampPasses(params, w) : GroundStampPasses(params, w);
    FloatImage brush = *NewImage(w / 2, w / 4);
    RenderContext ctx;
    BrushCache brushes;
    Configure(ctx, state, 1);
    WatchingObserver observer;
    if (state.range(3) != 0) ctx.SetStageObserver(&observer);
    for (auto _ : state) {
        ctx.rng = Lcg32(kSeed);
        std::optional<FloatImage> map = BuildWarpMap(passes, brush, brushes, w, w / 2,
                                                     {{"1", "2", "3"}, "merged", "layer"}, ctx);
        if (!map) std::abort();
        benchmark::DoNotOptimize(map->Data());
        ctx.KeepSpare(std::move(*map));
    }
    SetPixelsProcessed(state, w, w / 2);
}
BENCHMARK(BM_WarpMap)
    ->ArgNames({"width", "threads", "clouds", "watched"})
    ->ArgsProduct({{1024, 2048}, {1, 2}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Warp(benchmark::State& state) {
    const int32_t w = static_cast<int32_t>(state.range(0));
    const FloatImage layer = ReliefLayer(w, w / 2, 4);
    const FloatImage warpMap = WarpMapLayer(w, w / 2);
    FloatImage out = *NewImage(w, w / 2);
    RenderContext ctx;
    Configure(ctx, state, 1);
    for (auto _ : state) {
        ctx.rng = Lcg32(kSeed);
        WarpImage(layer, warpMap, out, 20, 5, ctx);
        benchmark::DoNotOptimize(out.Data());
    }
    SetPixelsProcessed(state, w, w / 2);
}
BENCHMARK(BM_Warp)->Apply(StageArgs);

// The crater stage of the example (20 craters): 40 stamps, placement and projection.
void BM_Craters(benchmark::State& state) {
    const int32_t w = static_cast<int32_t>(state.range(0));
    const RenderParams params = ExampleParams(w, w / 2);
    const FloatImage relief = ReliefLayer(w, w / 2, 5);
    FloatImage layer = *NewImage(w, w / 2);
    RenderContext ctx;
    Configure(ctx, state, 1);
    for (auto _ : state) {
        CopyImage(layer, relief);
        ctx.rng = Lcg32(kSeed);
        PlaceCraters(params, layer, ctx);
        benchmark::DoNotOptimize(layer.Data());
    }
    SetPixelsProcessed(state, w, w / 2);
}
// 8192 x 4096 too, where the ridge domes sample a pattern larger than the cache.
BENCHMARK(BM_Craters)->Apply(StageArgs)->Args({8192, 2});

// The whole cloud layer of the example (200 base stamps, three filters, warp).
void BM_Clouds(benchmark::State& state) {
    const int32_t w = static_cast<int32_t>(state.range(0));
    RenderParams params = ExampleParams(w, w / 2);
    params.WorkImage = std::make_unique<FloatImage>(*NewImage(w / 2, w / 4));
    RenderContext ctx;
    BrushCache brushes;
    Configure(ctx, state, 1);
    for (auto _ : state) {
        ctx.rng = Lcg32(kSeed);
        std::optional<FloatImage> cloud = BuildCloudLayer(params, brushes, ctx);
        benchmark::DoNotOptimize(cloud->Data());
    }
    SetPixelsProcessed(state, w, w / 2);
}
BENCHMARK(BM_Clouds)->Apply(StageArgs);

// The six map builders on ready layers, clouds mixed into the ground maps.
template <int kMap>
void BM_Map(benchmark::State& state) {
    const int32_t w = static_cast<int32_t>(state.range(0));
    RenderParams params = ExampleParams(w, w / 2);
    const FloatImage ground = ReliefLayer(w, w / 2, 6);
    const FloatImage cloud = ReliefLayer(w, w / 2, 7);
    RenderContext ctx;
    Configure(ctx, state, 1);
    for (auto _ : state) {
        FreeRenderMaps(params);
        switch (kMap) {
            case 0:
                BuildGroundColorMap(params, ground, &cloud, true, ctx);
                break;
            case 1:
                BuildGroundBumpMap(params, ground, &cloud, true, ctx);
                break;
            case 2:
                BuildGroundSpecularMap(params, ground, &cloud, true, ctx);
                break;
            case 3:
                BuildCloudColorMap(params, cloud, ctx);
                break;
            case 4:
                BuildCloudBumpMap(params, cloud, ctx);
                break;
            default:
                BuildCloudTransparencyMap(params, cloud, ctx);
                break;
        }
    }
    SetPixelsProcessed(state, w, w / 2);
}
BENCHMARK(BM_Map<0>)->Name("BM_GroundColorMap")->Apply(StageArgs);
BENCHMARK(BM_Map<1>)->Name("BM_GroundBumpMap")->Apply(StageArgs);
BENCHMARK(BM_Map<2>)->Name("BM_GroundSpecularMap")->Apply(StageArgs);
BENCHMARK(BM_Map<3>)->Name("BM_CloudColorMap")->Apply(StageArgs);
BENCHMARK(BM_Map<4>)->Name("BM_CloudBumpMap")->Apply(StageArgs);
BENCHMARK(BM_Map<5>)->Name("BM_CloudTransparencyMap")->Apply(StageArgs);

// The oversampling reduction: a (2W x 2H) work image to the W x H map.
void BM_Reduction(benchmark::State& state) {
    const int32_t w = static_cast<int32_t>(state.range(0));
    const FloatImage src = ReliefLayer(2 * w, w, 8);
    FloatImage dst = *NewImage(w, w / 2);
    RenderContext ctx;
    Configure(ctx, state, 1);
    for (auto _ : state) {
        ReduceImage(dst, src, 2, ctx);
        benchmark::DoNotOptimize(dst.Data());
    }
    SetPixelsProcessed(state, w, w / 2);
}
BENCHMARK(BM_Reduction)->Apply(StageArgs);

// Writing one map as PNG, JPEG and BMP into a temporary folder.
void BM_FileWriting(benchmark::State& state) {
    const int32_t w = static_cast<int32_t>(state.range(0));
    const FloatImage map = ReliefLayer(w, w / 2, 9);
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("globeforge_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    for (auto _ : state) {
        for (const char* name : {"map.png", "map.jpg", "map.bmp"}) {
            if (!SaveImageFile(map, (dir / name).string())) {
                state.SkipWithError("the image files cannot be written");
                break;
            }
        }
    }
    std::filesystem::remove_all(dir);
    SetPixelsProcessed(state, w, w / 2);
}
BENCHMARK(BM_FileWriting)->Apply(StageArgs);

// The ground colour map compressed as PNG in memory, with the threads given, and (third
// argument 1) through libpng's own calls to zlib for comparison: the same bytes.
void BM_PngCompression(benchmark::State& state) {
    const int32_t w = static_cast<int32_t>(state.range(0));
    RenderParams params = ExampleParams(w, w / 2);
    const FloatImage ground = ReliefLayer(w, w / 2, 6);
    const FloatImage cloud = ReliefLayer(w, w / 2, 7);
    RenderContext ctx;
    BuildGroundColorMap(params, ground, &cloud, true, ctx);
    PngWriteOptions options;
    options.Threads = static_cast<int32_t>(state.range(1));
    options.ThroughLibpng = state.range(2) != 0;
    std::vector<uint8_t> bytes;
    for (auto _ : state) {
        if (!EncodePng(*params.ColorMapImage, bytes, options)) {
            state.SkipWithError("the map cannot be encoded");
            break;
        }
    }
    SetPixelsProcessed(state, w, w / 2);
}
BENCHMARK(BM_PngCompression)
    ->ArgNames({"width", "threads", "libpng"})
    ->Args({2048, 1, 1})
    ->Args({2048, 1, 0})
    ->Args({2048, 2, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace globeforge::bench
