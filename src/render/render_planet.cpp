#include "render/render_planet.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "generate/brush_cache.h"
#include "generate/cloud_layer.h"
#include "generate/ground_layer.h"
#include "render/cloud_maps.h"
#include "render/ground_maps.h"
#include "render/normal_map.h"

namespace globeforge {

namespace {

double PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return std::numeric_limits<double>::infinity();
    return static_cast<double>(pages) * static_cast<double>(pageSize);
}

// What this process may map in all (ulimit -v), infinite without a limit.
double AddressSpaceLimitBytes() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return std::numeric_limits<double>::infinity();
    }
    return static_cast<double>(limit.rlim_cur);
}

// Clears the Rendering flag and releases the spare images on every way out of the driver.
struct RenderingScope {
    explicit RenderingScope(RenderContext& c) : ctx(c) { ctx.Rendering = true; }
    ~RenderingScope() {
        ctx.ReleaseSpares();
        ctx.Rendering = false;
    }
    RenderContext& ctx;
};

// A ground map is built when its name is set or a globe will be drawn from it.
bool Builds(const RenderParams& params, const std::string& name) {
    return !name.empty() || params.BuildGlobeMaps;
}

}  // namespace

RenderFootprint EstimateRenderFootprint(const RenderParams& params) {
    RenderFootprint f;
    f.layerWidth = int64_t{params.OutputResolutionX} * params.OverSampling;
    f.layerHeight = int64_t{params.OutputResolutionY} * params.OverSampling;
    const double w = static_cast<double>(f.layerWidth);
    const double h = static_cast<double>(f.layerHeight);
    const double pixel = sizeof(FloatPixel);
    const double layer = w * h * pixel;
    const double brush = std::floor(w / 2) * std::floor(h / 2) * pixel;
    const double output = static_cast<double>(params.OutputResolutionX) *
                          static_cast<double>(params.OutputResolutionY) * pixel;
    // The images alive at once, step by step as the driver and the stages hold them.
    double peak = 0;
    const auto note = [&peak](double bytes) { peak = std::max(peak, bytes); };

    // Ground: the brush, a resampled picture, the layer, the warp map and the scratch image
    // (freed before the warp result is made); then the craters' gray polar image, the 40
    // gray quarter-size stamps and the colour images of one stamp build.
    const double groundPicture = params.LoadHeightmap.empty() ? 0 : layer;
    note(brush + groundPicture + layer * (params.GroundAutoCreate ? 3 : 1));
    if (params.GroundAutoCreate && params.NumberOfCraters > 0) {
        const double m = std::max(w, h);
        const double scale = std::min(params.CraterBasicRadius / 10.0 / 8.0 + 1.2, 1.9);
        const double side = std::max(0.0, std::round(m * scale));
        const double stamp = std::floor(w / 4) * std::floor(h / 4);
        f.craterBytes = brush + groundPicture + layer + side * side * sizeof(float) +
                        40 * stamp * sizeof(float) + 3 * stamp * pixel;
        note(f.craterBytes);
    }
    // Clouds beside the ground layer.
    const bool clouds = params.CloudAutoCreate || !params.LoadCloudAlpha.empty();
    const double cloudPicture = params.LoadCloudAlpha.empty() ? 0 : layer;
    note(brush + layer + cloudPicture + layer * (params.CloudAutoCreate ? 3 : 1));

    // Maps, the brush gone: each builder's work image (which becomes the map itself at
    // oversampling 1) beside the layers and the maps already built. The specular map takes
    // over the ground layer and the transparency map the cloud layer.
    const bool direct = params.OverSampling == 1;
    const double built = direct ? layer : output;  // what one finished map holds
    double held = layer + (clouds ? layer : 0);
    const bool globe = params.BuildGlobeMaps;
    const auto workMap = [&](bool builds, double extra) {
        if (!builds) return;
        note(held + layer + (direct ? 0 : output) + extra);
        held += built;
    };
    workMap(Builds(params, params.OutputColorMap), 0);
    workMap(Builds(params, params.OutputBumpMap), 0);
    workMap(!params.OutputNormalMap.empty(), output);
    if (!params.OutputSpeculerMap.empty() || globe) {
        note(held + (direct ? 0 : output));
        held += built;
    }
    held -= layer;  // the ground layer, released or become the specular map
    if (clouds) {
        const bool globeClouds = globe && !MixCloudsIntoGround(params);
        workMap(!params.OutputCloudColorMap.empty() || globeClouds, 0);
        if (!params.OutputCloudBumpMap.empty()) {
            note(held + output);
            held += output;
        }
        if (!params.OutputCloudTransparencyMap.empty() || globeClouds)
            note(held + (direct ? 0 : output));
    }
    f.peakBytes = peak;
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
        const auto gib = [](double b) {
            return std::to_string(static_cast<int64_t>(b / (1 << 30)));
        };
        return "a " + std::to_string(f.layerWidth) + " x " + std::to_string(f.layerHeight) +
               " render needs about " + gib(f.peakBytes) + " GiB of memory, this machine has " +
               gib(available) + " GiB";
    }
    // Refused before any work rather than some minutes in, when a buffer cannot be had.
    if (const double limit = AddressSpaceLimitBytes(); f.peakBytes > limit) {
        const auto mib = [](double b) {
            return std::to_string(static_cast<int64_t>(b / (1 << 20)));
        };
        return "a " + std::to_string(f.layerWidth) + " x " + std::to_string(f.layerHeight) +
               " render needs about " + mib(f.peakBytes) +
               " MiB of memory, more than the address-space limit of this process (ulimit -v) "
               "of " +
               mib(limit) + " MiB";
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

    // The ground's two spare images serve the clouds if the crater stage can run beside
    // them within what the render needs at its fullest anyway.
    const RenderFootprint footprint = EstimateRenderFootprint(params);
    const double layerBytes = static_cast<double>(footprint.layerWidth) *
                              static_cast<double>(footprint.layerHeight) * sizeof(FloatPixel);
    const bool sparesOutliveCraters = footprint.craterBytes + 2 * layerBytes <= footprint.peakBytes;

    const int32_t layerW = params.OutputResolutionX * params.OverSampling;
    const int32_t layerH = params.OutputResolutionY * params.OverSampling;
    if (auto work = NewImage(layerW / 2, layerH / 2)) {
        params.WorkImage = std::make_unique<FloatImage>(std::move(*work));
    } else {
        ctx.failure = "not enough memory for the brush image";
        ctx.ReportProgress(nullptr, "作画中止");
        return false;
    }

    // What the brush redraws keep from one to the next serves both layers, as the brush does.
    BrushCache brushes;
    ctx.rng = Lcg32(params.RandomSeed);
    std::optional<FloatImage> ground = BuildGroundLayer(params, brushes, sparesOutliveCraters, ctx);
    if (ground) {
        // The clouds draw the same sequence whatever the ground consumed.
        ctx.rng = Lcg32(params.RandomSeed);
        std::optional<FloatImage> cloud = BuildCloudLayer(params, brushes, ctx);
        // The brush has served both layers; the maps have no use for it. Each layer is
        // released (or becomes the last map built from it) as soon as no later map reads
        // it, so a large render holds as few full-size images as possible at once. The
        // patterns' kept discs, tables and carving plane go with the brush.
        params.WorkImage.reset();
        brushes.Release();
        const bool mix = MixCloudsIntoGround(params);
        const FloatImage* cloudPtr = cloud ? &*cloud : nullptr;
        const auto finished = [&](const std::optional<FloatImage>& map) {
            if (ctx.mapFinished && map && !ctx.Aborted() && ctx.failure.empty())
                ctx.mapFinished(*map);
        };

        if (Builds(params, params.OutputColorMap)) {
            BuildGroundColorMap(params, *ground, cloudPtr, mix, ctx);
            finished(params.ColorMapImage);
        }
        if (Builds(params, params.OutputBumpMap)) {
            BuildGroundBumpMap(params, *ground, cloudPtr, mix, ctx);
            finished(params.BumpMapImage);
        }
        if (!params.OutputNormalMap.empty()) {
            BuildNormalMap(params, *ground, cloudPtr, mix, ctx);
            finished(params.NormalMapImage);
        }
        if (Builds(params, params.OutputSpeculerMap)) {
            BuildGroundSpecularMap(params, std::move(*ground), cloudPtr, mix, ctx);
            finished(params.SpecularMapImage);
        }
        ground.reset();

        if (cloud) {
            // Baked-in clouds are already part of the ground colour a globe shows.
            const bool globeClouds = params.BuildGlobeMaps && !mix;
            if (!params.OutputCloudColorMap.empty() || globeClouds) {
                BuildCloudColorMap(params, *cloud, ctx);
                finished(params.CloudColorMapImage);
            }
            if (!params.OutputCloudBumpMap.empty()) {
                BuildCloudBumpMap(params, *cloud, ctx);
                finished(params.CloudBumpMapImage);
            }
            if (!params.OutputCloudTransparencyMap.empty() || globeClouds) {
                BuildCloudTransparencyMap(params, std::move(*cloud), ctx);
                finished(params.CloudTransparencyMapImage);
            }
        }
    }
    params.WorkImage.reset();
    brushes.Release();

    const bool ok = !ctx.Aborted() && ctx.failure.empty();
    ctx.ReportProgress(nullptr, ok ? "作画終了" : "作画中止");
    return ok;
}

}  // namespace globeforge
