#include "generate/stamping.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "core/parallel.h"
#include "generate/channel_ops.h"
#include "generate/curves.h"
#include "generate/patterns.h"
#include "image/stretch_plan.h"

namespace globeforge {

BlendMode AddSubCycle(int32_t i) {
    switch (i % 4) {
        case 0:
            return BlendMode::Add;
        case 1:
            return BlendMode::Sub;
        case 2:
            return BlendMode::AddDirect;
        default:
            return BlendMode::SubDirect;
    }
}

ImageRect StampRectangle(const StampPass& pass, int32_t i, int32_t targetHeight,
                         const StampDraws& draws) {
    const int32_t middle = targetHeight / 2;
    const int32_t yoff = Round(CurveIn(0, targetHeight / 2.0, 0, 10000, draws.r1, pass.pLat));
    const bool below =
        pass.hemisphere == HemisphereRule::Alternate ? (i % 2 != 0) : (draws.side >= 5);
    const int32_t cy = below ? middle + yoff : middle - yoff;
    const int32_t size = Round(CurveOut(pass.sMax, pass.sMin, 1000, 0, draws.r2, pass.pSize));
    const int64_t lat = cy > middle ? int64_t{cy} - middle : int64_t{middle} - cy;
    // With a middle row of 0 the interval is empty and the curve gives the polar width.
    const int32_t w0 = Round(
        CurveIn(pass.wEq(size), pass.wPole(size), 0, middle, static_cast<double>(lat), pass.pWide));
    const int32_t width = pass.width(w0, size);
    const int32_t height = pass.height(w0, size);
    return {draws.cx - width / 2, cy - height / 2, width, height};
}

void AddImage(const FloatImage& src, FloatImage& dst, RenderContext& ctx) {
    const ImageRect whole{0, 0, dst.Width, dst.Height};
    const StretchPlan plan(src.Width, src.Height, SourceLayout::General, whole, dst.Width,
                           dst.Height, whole, Wrap::Off, BlendMode::AddDirect,
                           StretchSampling::Nearest);
    ParallelForBands(ctx, dst.Height, kBandRows, [&](int64_t y0, int64_t y1) {
        plan.PaintBand(src, dst, static_cast<int32_t>(y0), static_cast<int32_t>(y1));
    });
}

namespace {

// FindSourceLayout of the brush, in bands of rows.
SourceLayout BrushLayout(const FloatImage& brush, RenderContext& ctx) {
    const size_t bands = static_cast<size_t>((brush.Height + kBandRows - 1) / kBandRows);
    std::vector<uint32_t> layouts(bands, ~0u);
    ParallelForBands(ctx, brush.Height, kBandRows, [&](int64_t y0, int64_t y1) {
        layouts[static_cast<size_t>(y0 / kBandRows)] = SourceLayoutsOf(
            brush.Row(static_cast<int32_t>(y0)), static_cast<size_t>(y1 - y0) * brush.Width);
    });
    uint32_t all = ~0u;
    for (const uint32_t band : layouts) all &= band;
    return PickSourceLayout(all);
}

}  // namespace

bool RunStampPass(const StampPass& pass, FloatImage& brush, FloatImage& target,
                  RenderContext& ctx) {
    const ImageRect whole{0, 0, brush.Width, brush.Height};
    const StretchSampling sampling = pass.sampling == StampSampling::Nearest
                                         ? StretchSampling::Nearest
                                         : StretchSampling::Bilinear;
    // Wrapping needs at least one pixel to wrap onto.
    const bool paint = target.PixelCount() > 0;
    std::vector<ImageRect> rects;
    std::vector<std::optional<StretchPlan>> plans;
    std::vector<uint32_t> statesAfter;
    DeferredBrush deferred(brush, ctx);
    // One epoch per brush: the redraw and all draws of its (up to) ten stamps come first, in
    // the serial order; then every band of target rows replays the stamps in order.
    for (int32_t first = 1; first <= pass.count; first += 10) {
        const int32_t last = std::min(pass.count, first + 9);
        pass.redrawBrush(first, brush, ctx);
        rects.clear();
        statesAfter.clear();
        for (int32_t i = first; i <= last; ++i) {
            StampDraws draws;
            draws.cx = ctx.rng.Random(target.Width);
            draws.r1 = ctx.rng.Random(10000);
            if (pass.hemisphere == HemisphereRule::Drawn) draws.side = ctx.rng.Random(10);
            draws.r2 = ctx.rng.Random(1000);
            statesAfter.push_back(ctx.rng.state);
            rects.push_back(StampRectangle(pass, i, target.Height, draws));
        }
        if (paint) {
            const float* plane = deferred.TakePlane(pass.brushLayout);
            const SourceLayout layout = pass.brushLayout == SourceLayout::General
                                            ? BrushLayout(brush, ctx)
                                            : pass.brushLayout;
            plans.assign(rects.size(), std::nullopt);
            ParallelForBands(ctx, static_cast<int64_t>(rects.size()), 1, [&](int64_t k, int64_t) {
                plans[static_cast<size_t>(k)].emplace(
                    brush.Width, brush.Height, layout, whole, target.Width, target.Height,
                    rects[static_cast<size_t>(k)], Wrap::On,
                    pass.mode(first + static_cast<int32_t>(k)), sampling);
            });
            ParallelForBands(ctx, target.Height, kBandRows, [&](int64_t y0, int64_t y1) {
                for (const std::optional<StretchPlan>& plan : plans) {
                    if (plane) {
                        plan->PaintBand(plane, target, static_cast<int32_t>(y0),
                                        static_cast<int32_t>(y1));
                    } else {
                        plan->PaintBand(brush, target, static_cast<int32_t>(y0),
                                        static_cast<int32_t>(y1));
                    }
                }
            });
        }
        for (int32_t i = first; i <= last; ++i) {
            if (ctx.StepDone(i, pass.count)) {
                // The generator ends where the serial loop would have stopped drawing; the
                // later stamps of the epoch are painted, but an aborted layer is discarded.
                ctx.rng.state = statesAfter[static_cast<size_t>(i - first)];
                return false;
            }
        }
    }
    return true;
}

std::optional<FloatImage> BuildWarpMap(const std::array<StampPass, 4>& passes, FloatImage& brush,
                                       int32_t width, int32_t height,
                                       const WarpMapMessages& messages, RenderContext& ctx) {
    const auto outOfMemory = [&](const char* what) {
        ctx.failure = std::string("not enough memory for the ") + messages.layerName + " " + what;
        return std::nullopt;
    };
    // Each filter's brush has one channel (R, G, B in turn) and the scratch image starts
    // black, so the map gathers filter 1 in R, filter 2 in G and filter 3 in B.
    std::optional<FloatImage> warpMap = NewFilledImage(width, height, kOpaqueBlack, ctx);
    if (!warpMap) return outOfMemory("warp map");
    if (!RunStampPass(passes[1], brush, *warpMap, ctx)) return std::nullopt;
    ctx.ReportProgress(*warpMap, messages.filters[0]);

    std::optional<FloatImage> scratch = NewFilledImage(width, height, kOpaqueBlack, ctx);
    if (!scratch) return outOfMemory("warp filter");
    for (int filter = 2; filter <= 3; ++filter) {
        if (filter > 2) FillImage(*scratch, kOpaqueBlack, ctx);
        if (!RunStampPass(passes[static_cast<size_t>(filter)], brush, *scratch, ctx)) {
            return std::nullopt;
        }
        ctx.ReportProgress(*scratch, messages.filters[filter - 1]);
        AddImage(*scratch, *warpMap, ctx);
    }
    ctx.KeepSpare(std::move(*scratch));

    NormalizeImage(*warpMap, ctx);
    ctx.ReportProgress(*warpMap, messages.merged);
    return warpMap;
}

}  // namespace globeforge
