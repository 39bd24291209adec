#include "generate/stamping.h"

#include <algorithm>
#include <bit>
#include <numeric>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/parallel.h"
#include "generate/channel_ops.h"
#include "generate/curves.h"
#include "generate/patterns.h"
#include "generate/warp.h"
#include "image/live_spans.h"
#include "image/stretch_plan.h"

namespace globeforge {

StampPass WarpFilterPass(int32_t count, SourceLayout brushLayout) {
    StampPass pass;
    pass.count = count;
    pass.brushLayout = brushLayout;
    pass.hemisphere = HemisphereRule::Drawn;
    pass.mode = AddSubCycle;
    pass.sampling = StampSampling::Bilinear;
    return pass;
}

namespace {

void SetSizes(StampPass& pass, const StampSizes& sizes, double w, int32_t xWarp, int32_t yWarp) {
    pass.pLat = sizes.pLat;
    pass.sMax = w / sizes.sMaxDivisor;
    pass.sMin = sizes.sMinDivisor != 0 ? w / sizes.sMinDivisor : 0;
    pass.pSize = sizes.pSize;
    pass.wEq = [d = sizes.wEqDivisor](int32_t size) { return size / d; };
    pass.wPole = [f = sizes.wPoleFactor](int32_t size) { return f * size; };
    pass.pWide = sizes.pWide;
    if (sizes.xWarpDivisor != 0) {
        pass.width = [xWarp, d = sizes.xWarpDivisor](int32_t w0, int32_t) {
            return Round(w0 * (xWarp / d + 1.0L));
        };
    } else {
        pass.width = [](int32_t w0, int32_t) { return w0; };
    }
    if (sizes.yWarpDivisor != 0) {
        pass.height = [yWarp, d = sizes.yWarpDivisor, halve = sizes.halveSize](int32_t,
                                                                               int32_t size) {
            return Round((halve ? size / 2 : size) * (yWarp / d + 1.0L));
        };
    } else {
        pass.height = [](int32_t, int32_t size) { return size; };
    }
}

StampPass FilterPass(const WarpFilterSpec& spec, int32_t channel, double w, int32_t xWarp,
                     int32_t yWarp) {
    const bool useR = channel == 0, useG = channel == 1, useB = channel == 2;
    StampPass pass = WarpFilterPass(spec.count, PatternLayout(useR, useG, useB, spec.patternCount));
    pass.redrawBrush = [spec, useR, useG, useB](int32_t, FloatImage& brush, BrushCache& cache,
                                                RenderContext& ctx) {
        double exponent = spec.exponent;
        // The draw for the exponent comes before the pattern's own draws.
        if (spec.exponentPerDraw != 0) {
            const double draw = ctx.rng.RandomReal();
            exponent = spec.exponent + spec.exponentPerDraw * draw;
        }
        DrawPattern(spec.shape, brush, useR, useG, useB, spec.patternCount, exponent, cache, ctx);
    };
    SetSizes(pass, spec.sizes, w, xWarp, yWarp);
    if (spec.addOnly) {
        // Such a filter only adds, so its channel of the warp map is never negative.
        pass.mode = [](int32_t i) { return i % 4 <= 1 ? BlendMode::Add : BlendMode::AddDirect; };
    }
    return pass;
}

}  // namespace

StampPass BaseStampPass(int32_t count, const BaseBrushes& brushes, const StampSizes& sizes,
                        double layerWidth, int32_t xWarp, int32_t yWarp) {
    StampPass pass;
    pass.count = count;
    pass.redrawBrush = [brushes](int32_t i, FloatImage& brush, BrushCache& cache,
                                 RenderContext& ctx) {
        if (i < brushes.sixFrom) {
            DomePattern(brush, true, true, true, 8, brushes.firstBias, cache, ctx);
        } else if (i < brushes.ringsFrom) {
            DomePattern(brush, true, true, true, 6, brushes.secondBias, cache, ctx);
        } else {
            RingPattern(brush, true, true, true, brushes.ringCount, brushes.ringExponent, cache,
                        ctx);
        }
    };
    pass.hemisphere = HemisphereRule::Alternate;
    SetSizes(pass, sizes, layerWidth, xWarp, yWarp);
    // Stamps below the middle row add their value directly, those above weighted by their
    // own coverage, so the hemispheres differ in character.
    pass.mode = [](int32_t i) { return i % 2 != 0 ? BlendMode::AddDirect : BlendMode::Add; };
    pass.sampling = StampSampling::Nearest;
    pass.brushLayout = PatternLayout(true, true, true, 8);
    return pass;
}

std::array<StampPass, 4> LayerStampPasses(StampPass base,
                                          const std::array<WarpFilterSpec, 3>& filters,
                                          double layerWidth, int32_t xWarp, int32_t yWarp) {
    std::array<StampPass, 4> passes;
    passes[0] = std::move(base);
    for (int32_t k = 0; k < 3; ++k) {
        passes[k + 1] = FilterPass(filters[k], k, layerWidth, xWarp, yWarp);
    }
    return passes;
}

BlendMode AddSubCycle(int32_t i) {
    static constexpr BlendMode kCycle[4] = {BlendMode::Add, BlendMode::Sub, BlendMode::AddDirect,
                                            BlendMode::SubDirect};
    // A negative i leaves a negative remainder, which the cycle counts as SubDirect.
    const int32_t k = i % 4;
    return k >= 0 ? kCycle[k] : BlendMode::SubDirect;
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

namespace {

// Norm reads the destination's A and blends each channel apart; the other modes change a
// channel by the source's value alone.
bool NoNormStamp(const StampPass& pass) {
    for (int32_t i = 1; i <= pass.count; ++i) {
        if (pass.mode(i) == BlendMode::Norm) return false;
    }
    return true;
}

}  // namespace

bool StampsIntoValuePlane(const StampPass& pass) {
    const SourceLayout layout = pass.brushLayout;
    return (layout == SourceLayout::OnlyR || layout == SourceLayout::OnlyG ||
            layout == SourceLayout::OnlyB) &&
           NoNormStamp(pass);
}

namespace {

template <typename Target>
bool StampAll(const StampPass& pass, FloatImage& brush, BrushCache& cache, Target& target,
              RenderContext& ctx) {
    constexpr bool kValueOut = std::is_same_v<Target, const ChannelPlane>;
    const ImageRect whole{0, 0, brush.Width, brush.Height};
    const StretchSampling sampling = pass.sampling == StampSampling::Nearest
                                         ? StretchSampling::Nearest
                                         : StretchSampling::Bilinear;
    // Wrapping needs at least one pixel to wrap onto.
    const bool paint = target.PixelCount() > 0;
    std::vector<ImageRect> rects;
    std::vector<std::optional<StretchPlan>> plans;
    std::vector<uint32_t> statesAfter;
    std::vector<size_t> order;
    std::vector<float> brushValues;
    LiveSpans live;
    DeferredBrush deferred(brush, cache, ctx);
    // One epoch per brush: the redraw and all draws of its (up to) ten stamps come first, in
    // the serial order; then every band of target rows replays the stamps in order.
    for (int32_t first = 1; first <= pass.count; first += 10) {
        const int32_t last = std::min(pass.count, first + 9);
        pass.redrawBrush(first, brush, cache, ctx);
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
            Brush drawn = deferred.Take(pass.brushLayout, kValueOut ? &brushValues : nullptr);
            if (drawn.layout == SourceLayout::General) drawn.layout = BrushLayout(brush, ctx);
            // Where the brush is zero the stamps blend nothing: they paint only the rest.
            live.Reset(brush.Width, brush.Height);
            ParallelForBands(ctx, brush.Height, kBandRows, [&](int64_t y0, int64_t y1) {
                const auto from = static_cast<int32_t>(y0), to = static_cast<int32_t>(y1);
                if (drawn.plane) {
                    live.FindRows(drawn.plane, from, to);
                } else {
                    live.FindRows(*drawn.image, from, to);
                }
            });
            plans.assign(rects.size(), std::nullopt);
            // A plan costs about its rectangle's width plus height; the largest go first, so
            // that the threads finish together.
            order.resize(rects.size());
            std::iota(order.begin(), order.end(), size_t{0});
            std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                return int64_t{rects[a].W} + rects[a].H > int64_t{rects[b].W} + rects[b].H;
            });
            ParallelForBands(ctx, static_cast<int64_t>(rects.size()), 1, [&](int64_t at, int64_t) {
                const size_t k = order[static_cast<size_t>(at)];
                plans[k].emplace(brush.Width, brush.Height, drawn.layout, whole, target.Width,
                                 target.Height, rects[k], Wrap::On,
                                 pass.mode(first + static_cast<int32_t>(k)), sampling);
            });
            ParallelForBands(ctx, target.Height, kBandRows, [&](int64_t y0, int64_t y1) {
                // An aborted layer is discarded: an epoch of large stamps on a large layer
                // would otherwise hold up the abort for its whole length.
                if (ctx.Aborted()) return;
                const auto from = static_cast<int32_t>(y0), to = static_cast<int32_t>(y1);
                // A value plane target always has its brush as a plane.
                const StretchSource source = kValueOut || drawn.plane
                                                 ? StretchSource(drawn.plane, &live)
                                                 : StretchSource(*drawn.image, &live);
                for (const std::optional<StretchPlan>& plan : plans) {
                    plan->PaintBand(source, target, from, to);
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

}  // namespace

bool RunStampPass(const StampPass& pass, FloatImage& brush, BrushCache& cache, FloatImage& target,
                  RenderContext& ctx) {
    return StampAll(pass, brush, cache, target, ctx);
}

bool RunStampPass(const StampPass& pass, FloatImage& brush, BrushCache& cache,
                  const ChannelPlane& target, RenderContext& ctx) {
    if (!StampsIntoValuePlane(pass)) {
        ctx.failure = "a stamp pass without one-channel brushes cannot paint a value plane";
        return false;
    }
    return StampAll(pass, brush, cache, target, ctx);
}

bool RunStampPassOnGray(const StampPass& pass, FloatImage& brush, BrushCache& cache,
                        FloatImage& target, RenderContext& ctx) {
    const bool grayPass = pass.brushLayout == SourceLayout::Gray && NoNormStamp(pass);
    std::optional<FloatImage> room;
    if (grayPass && target.PixelCount() > 0) room = ctx.NewImage(target.Width, target.Height);
    // The planes only save time: without their memory the image takes the stamps itself.
    if (!room) return RunStampPass(pass, brush, cache, target, ctx);
    const size_t n = target.PixelCount();
    const GrayPlanes planes{&room->Data()->R, &room->Data()->R + n, target.Width, target.Height};
    const size_t bands = static_cast<size_t>((target.Height + kBandRows - 1) / kBandRows);
    std::vector<uint8_t> gray(bands, 1);
    ParallelForBands(ctx, target.Height, kBandRows, [&](int64_t y0, int64_t y1) {
        const size_t first = static_cast<size_t>(y0) * target.Width;
        const size_t end = static_cast<size_t>(y1) * target.Width;
        const FloatPixel* p = target.Data();
        bool same = true;
        for (size_t i = first; i < end; ++i) {
            same = same && std::bit_cast<uint32_t>(p[i].R) == std::bit_cast<uint32_t>(p[i].G) &&
                   std::bit_cast<uint32_t>(p[i].R) == std::bit_cast<uint32_t>(p[i].B);
            planes.value[i] = p[i].R;
            planes.alpha[i] = p[i].A;
        }
        gray[static_cast<size_t>(y0 / kBandRows)] = same;
    });
    if (std::find(gray.begin(), gray.end(), 0) != gray.end()) {
        ctx.KeepSpare(std::move(*room));
        return RunStampPass(pass, brush, cache, target, ctx);
    }
    const bool done = StampAll(pass, brush, cache, planes, ctx);
    ParallelForBands(ctx, target.Height, kBandRows, [&](int64_t y0, int64_t y1) {
        FloatPixel* p = target.Data();
        for (size_t i = static_cast<size_t>(y0) * target.Width,
                    end = static_cast<size_t>(y1) * target.Width;
             i < end; ++i) {
            p[i] = {planes.value[i], planes.value[i], planes.value[i], planes.alpha[i]};
        }
    });
    ctx.KeepSpare(std::move(*room));
    return done;
}

namespace {

int ChannelOf(SourceLayout layout) {
    return layout == SourceLayout::OnlyR ? 0 : layout == SourceLayout::OnlyG ? 1 : 2;
}

// BuildWarpMap when nobody sees the filters' images: each filter stamps only the channel its
// brushes carry, into a plane of its own (a quarter of the bytes each stamp reads and
// writes), and the map is put together from the planes as the filters' sums would make it.
// The planes live in the scratch image's memory, whose four floats a pixel hold three planes.
std::optional<FloatImage> WarpMapFromPlanes(const std::array<StampPass, 4>& passes,
                                            FloatImage& brush, BrushCache& cache,
                                            FloatImage& scratch, FloatImage& warpMap,
                                            const WarpMapMessages& messages, RenderContext& ctx) {
    const size_t n = scratch.PixelCount();
    ChannelPlane planes[3];
    for (size_t k = 0; k < 3; ++k) {
        planes[k] = {&scratch.Data()->R + k * n, scratch.Width, scratch.Height};
    }
    ParallelForBands(ctx, scratch.Height, kBandRows, [&](int64_t y0, int64_t y1) {
        const size_t count = static_cast<size_t>(y1 - y0) * scratch.Width;
        for (const ChannelPlane& plane : planes) {
            std::fill_n(plane.Row(static_cast<int32_t>(y0)), count, 0.0f);
        }
    });
    for (size_t k = 0; k < 3; ++k) {
        if (!RunStampPass(passes[k + 1], brush, cache, planes[k], ctx)) return std::nullopt;
        ctx.ReportProgress(nullptr, messages.filters[k]);
    }
    // Filter 1 is stamped onto the opaque black map, which leaves its other channels +0;
    // filters 2 and 3 onto black scratch images, added onto the map in turn (every pixel:
    // a stamped pixel's alpha is never 0). So a channel is its first value plus the second
    // and the third, each +0 where a filter does not stamp that channel: the same float sums.
    const int channels[3] = {ChannelOf(passes[1].brushLayout), ChannelOf(passes[2].brushLayout),
                             ChannelOf(passes[3].brushLayout)};
    ParallelForBands(ctx, warpMap.Height, kBandRows, [&](int64_t y0, int64_t y1) {
        for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
            const float* in[3] = {planes[0].Row(y), planes[1].Row(y), planes[2].Row(y)};
            FloatPixel* out = warpMap.Row(y);
            for (int32_t x = 0; x < warpMap.Width; ++x) {
                float c[3] = {0.0f, 0.0f, 0.0f};
                c[channels[0]] = in[0][x];
                for (int k = 1; k < 3; ++k) {
                    for (int ch = 0; ch < 3; ++ch) {
                        c[ch] = c[ch] + (ch == channels[k] ? in[k][x] : 0.0f);
                    }
                }
                out[x] = {c[0], c[1], c[2], 255.0f};
            }
        }
    });
    NormalizeImage(warpMap, ctx);
    ctx.ReportProgress(nullptr, messages.merged);
    return std::move(warpMap);
}

}  // namespace

std::optional<FloatImage> BuildWarpMap(const std::array<StampPass, 4>& passes, FloatImage& brush,
                                       BrushCache& cache, int32_t width, int32_t height,
                                       const WarpMapMessages& messages, RenderContext& ctx) {
    const auto outOfMemory = [&](const char* what) {
        ctx.failure = std::string("not enough memory for the ") + messages.layerName + " " + what;
        return std::nullopt;
    };
    if (!ctx.ImagesWatched() && StampsIntoValuePlane(passes[1]) &&
        StampsIntoValuePlane(passes[2]) && StampsIntoValuePlane(passes[3])) {
        std::optional<FloatImage> warpMap = ctx.NewImage(width, height);
        if (!warpMap) return outOfMemory("warp map");
        std::optional<FloatImage> scratch = ctx.NewImage(width, height);
        if (!scratch) return outOfMemory("warp filter");
        std::optional<FloatImage> result =
            WarpMapFromPlanes(passes, brush, cache, *scratch, *warpMap, messages, ctx);
        ctx.KeepSpare(std::move(*scratch));
        return result;
    }
    // Each filter's brush has one channel (R, G, B in turn) and the scratch image starts
    // black, so the map gathers filter 1 in R, filter 2 in G and filter 3 in B.
    std::optional<FloatImage> warpMap = NewFilledImage(width, height, kOpaqueBlack, ctx);
    if (!warpMap) return outOfMemory("warp map");
    if (!RunStampPass(passes[1], brush, cache, *warpMap, ctx)) return std::nullopt;
    ctx.ReportProgress(*warpMap, messages.filters[0]);

    std::optional<FloatImage> scratch = NewFilledImage(width, height, kOpaqueBlack, ctx);
    if (!scratch) return outOfMemory("warp filter");
    for (int filter = 2; filter <= 3; ++filter) {
        if (filter > 2) FillImage(*scratch, kOpaqueBlack, ctx);
        if (!RunStampPass(passes[static_cast<size_t>(filter)], brush, cache, *scratch, ctx)) {
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

void WarpStampedLayer(const std::array<StampPass, 4>& passes, FloatImage& brush, BrushCache& cache,
                      FloatImage& layer, const LayerWarp& warp, RenderContext& ctx) {
    const int32_t w = layer.Width;
    const int32_t h = layer.Height;
    std::optional<FloatImage> warpMap = BuildWarpMap(passes, brush, cache, w, h, warp.map, ctx);
    if (!warpMap) return;

    std::optional<FloatImage> warped = ctx.NewImage(w, h);
    if (!warped) {
        ctx.failure = std::string("not enough memory for the ") + warp.warpedName;
        return;
    }
    WarpImage(layer, *warpMap, *warped, warp.strengthX, warp.strengthY, ctx);
    // Shown also when the warp stopped early.
    ctx.ReportProgress(*warped, warp.warpedMessage);
    // The layer's old memory and the warp map's are kept for the images that follow.
    if (!ctx.Aborted()) std::swap(layer, *warped);
    ctx.KeepSpare(std::move(*warped));
    ctx.KeepSpare(std::move(*warpMap));
}

void GenerateStampedLayer(const RenderParams& params, const std::array<StampPass, 4>& passes,
                          FloatImage& layer, BrushCache& cache, const StampedLayer& stamped,
                          RenderContext& ctx) {
    if (!params.WorkImage) {
        ctx.failure =
            std::string("the ") + stamped.warp.map.layerName + " generator has no brush image";
        return;
    }
    FloatImage& brush = *params.WorkImage;
    if (!RunStampPassOnGray(passes[0], brush, cache, layer, ctx)) return;
    if (stamped.baseContrast) {
        NormalizeImage(layer, ctx);
        ScaleColor(layer, *stamped.baseContrast, ctx);
    }
    ctx.ReportProgress(layer, stamped.baseMessage);
    WarpStampedLayer(passes, brush, cache, layer, stamped.warp, ctx);
}

}  // namespace globeforge
