#include "render/render_planet.h"

#include <unistd.h>

#include <algorithm>
#include <limits>

#include "generate/cloud_layer.h"
#include "generate/ground_layer.h"
#include "output/cloud_maps.h"
#include "output/ground_maps.h"
#include "output/normal_map.h"

namespace globeforge {

namespace {

double PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return std::numeric_limits<double>::infinity();
    return static_cast<double>(pages) * static_cast<double>(pageSize);
}

// Clears the Rendering flag on every way out of the driver.
struct RenderingScope {
    explicit RenderingScope(RenderContext& c) : ctx(c) { ctx.Rendering = true; }
    ~RenderingScope() { ctx.Rendering = false; }
    RenderContext& ctx;
};

}  // namespace

RenderFootprint EstimateRenderFootprint(const RenderParams& params) {
    RenderFootprint f;
    f.layerWidth = int64_t{params.OutputResolutionX} * params.OverSampling;
    f.layerHeight = int64_t{params.OutputResolutionY} * params.OverSampling;
    const double layer = static_cast<double>(f.layerWidth) * static_cast<double>(f.layerHeight) *
                         sizeof(FloatPixel);
    // Ground layer, cloud layer, warp map, scratch and warp result live together, plus the
    // quarter-size brush and one map's work image.
    double bytes = layer * 6.25;
    if (params.GroundAutoCreate && params.NumberOfCraters > 0) {
        // 40 quarter-size stamps beside the ground layer, and the square polar work image.
        const double m = static_cast<double>(std::max(f.layerWidth, f.layerHeight));
        const double side = m * 1.9;
        bytes = std::max(bytes, layer * 3.75 + side * side * sizeof(FloatPixel));
    }
    const double output = static_cast<double>(params.OutputResolutionX) *
                          static_cast<double>(params.OutputResolutionY) * sizeof(FloatPixel);
    f.peakBytes = bytes + 6 * output;
    return f;
}

std::string CheckRenderSize(const RenderParams& params) {
    if (params.OutputResolutionX < 1 || params.OutputResolutionY < 1) {
        return "the output resolution must be at least 1 x 1 (got " +
               std::to_string(params.OutputResolutionX) + " x " +
               std::to_string(params.OutputResolutionY) + ")";
    }
    if (params.OverSampling < 1) {
        return "the oversampling must be at least 1 (got " + std::to_string(params.OverSampling) +
               ")";
    }
    const RenderFootprint f = EstimateRenderFootprint(params);
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    if (f.layerWidth > kMax || f.layerHeight > kMax ||
        static_cast<uint64_t>(f.layerWidth) * static_cast<uint64_t>(f.layerHeight) >
            kMaxImagePixels) {
        return "the layer size " + std::to_string(f.layerWidth) + " x " +
               std::to_string(f.layerHeight) + " (output size x oversampling) is too large";
    }
    const double available = PhysicalMemoryBytes();
    if (f.peakBytes > available) {
        const auto gib = [](double b) { return std::to_string(static_cast<int64_t>(b / (1 << 30))); };
        return "a " + std::to_string(f.layerWidth) + " x " + std::to_string(f.layerHeight) +
               " render needs about " + gib(f.peakBytes) + " GiB of memory, this machine has " +
               gib(available) + " GiB";
    }
    return {};
}

bool RenderPlanet(RenderParams& params, RenderContext& ctx) {
    RenderingScope rendering(ctx);
    ctx.ProgressCount = 0;
    ctx.failure.clear();
    ctx.ReportProgress(nullptr, "作画開始..");
    // An abort requested before this point, even during the first report, is cleared.
    ctx.AbortRequested = false;

    if (std::string problem = CheckRenderSize(params); !problem.empty()) {
        ctx.failure = std::move(problem);
        ctx.ReportProgress(nullptr, "作画中止");
        return false;
    }

    const int32_t layerW = params.OutputResolutionX * params.OverSampling;
    const int32_t layerH = params.OutputResolutionY * params.OverSampling;
    if (auto work = NewImage(layerW / 2, layerH / 2)) {
        params.WorkImage = std::make_unique<FloatImage>(std::move(*work));
    } else {
        ctx.failure = "not enough memory for the brush image";
        ctx.ReportProgress(nullptr, "作画中止");
        return false;
    }

    ctx.rng = Lcg32(params.RandomSeed);
    std::optional<FloatImage> ground = BuildGroundLayer(params, ctx);
    if (ground) {
        // The clouds draw the same sequence whatever the ground consumed.
        ctx.rng = Lcg32(params.RandomSeed);
        std::optional<FloatImage> cloud = BuildCloudLayer(params, ctx);
        const bool mix = MixCloudsIntoGround(params);
        const FloatImage* cloudPtr = cloud ? &*cloud : nullptr;

        if (!params.OutputColorMap.empty())
            BuildGroundColorMap(params, *ground, cloudPtr, mix, ctx);
        if (!params.OutputBumpMap.empty()) BuildGroundBumpMap(params, *ground, cloudPtr, mix, ctx);
        if (!params.OutputNormalMap.empty()) BuildNormalMap(params, *ground, cloudPtr, mix, ctx);
        if (!params.OutputSpeculerMap.empty())
            BuildGroundSpecularMap(params, *ground, cloudPtr, mix, ctx);

        if (cloud) {
            if (!params.OutputCloudColorMap.empty()) BuildCloudColorMap(params, *cloud, ctx);
            if (!params.OutputCloudBumpMap.empty()) BuildCloudBumpMap(params, *cloud, ctx);
            if (!params.OutputCloudTransparencyMap.empty())
                BuildCloudTransparencyMap(params, *cloud, ctx);
        }
    }
    params.WorkImage.reset();

    const bool ok = !ctx.Aborted() && ctx.failure.empty();
    ctx.ReportProgress(nullptr, ok ? "作画終了" : "作画中止");
    return ok;
}

}  // namespace globeforge
