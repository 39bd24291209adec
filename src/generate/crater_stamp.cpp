// One crater stamp: bowl and rim, ridges and the swirled outline.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>
#include <optional>
#include <vector>

#include "core/parallel.h"
#include "exact/rotation.h"
#include "generate/channel_ops.h"
#include "generate/craters.h"
#include "generate/curves.h"
#include "generate/distance.h"
#include "generate/patterns.h"
#include "generate/swirl.h"
#include "image/max_stamp.h"
#include "image/stretch_plan.h"

namespace globeforge {

namespace {

constexpr int32_t kSwirlStamps = 100;

// A crater's ridge domes crowd around the middle rows of its stamp, so they are painted in
// thinner bands than a layer's, which spread that work more evenly over the threads. Their
// squares are worked out in batches: one dome is too little work to hand out on its own.
constexpr int64_t kRidgeBandRows = 8;
constexpr int64_t kDomesPerBand = 16;

// The largest column offset within distance r on the row dy away from the centre, or -1.
int64_t RowReach(int64_t r, int64_t dy) {
    if (dy > r) return -1;
    int64_t e = static_cast<int64_t>(std::sqrt(static_cast<double>(r * r - dy * dy)));
    while (Distance(e + 1, dy) <= r) ++e;
    while (e >= 0 && Distance(e, dy) > r) --e;
    return e;
}

// The sunken bowl and the rim's outer slope, one RandomReal() per pixel within the crater
// radius, in raster order. Bowl pixels get A = -1 so the ridges never fill them. The draws
// of a row start after those of the rows above it, which are counted first, so the rows
// can be computed in any order.
void CarveBowlAndRim(FloatImage& stamp, const CraterShape& shape, double noise,
                     RenderContext& ctx) {
    const int32_t cx = stamp.Width / 2;
    const int32_t cy = stamp.Height / 2;
    std::vector<uint64_t> drawsBefore(static_cast<size_t>(stamp.Height) + 1, 0);
    for (int32_t y = 0; y < stamp.Height; ++y) {
        const int64_t reach = RowReach(shape.R, std::abs(int64_t{y} - cy));
        const int64_t x0 = std::max<int64_t>(0, cx - reach);
        const int64_t x1 = std::min<int64_t>(stamp.Width - 1, cx + reach);
        drawsBefore[y + 1] =
            drawsBefore[y] + static_cast<uint64_t>(std::max<int64_t>(0, x1 - x0 + 1));
    }
    const Lcg32 start = ctx.rng;
    ParallelRows(
        ctx, stamp.Height, kBandRows,
        [&](int64_t y0, int64_t y1) {
            Lcg32 rng = start;
            rng.Advance(drawsBefore[static_cast<size_t>(y0)]);
            for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
                FloatPixel* row = stamp.Row(y);
                for (int32_t x = 0; x < stamp.Width; ++x) {
                    const double d = Distance(int64_t{x} - cx, int64_t{y} - cy);
                    FloatPixel pixel = kOpaqueBlack;
                    if (d <= shape.R) {
                        const double draw = rng.RandomReal();
                        const float v = CraterHeightFloat(shape, d, draw, noise);
                        pixel = {v, v, v, d < shape.innerR ? -1.0f : 255.0f};
                    }
                    row[x] = pixel;
                }
            }
        },
        [&](int64_t y) {
            ctx.rng = start;
            ctx.rng.Advance(drawsBefore[static_cast<size_t>(y) + 1]);
            // A one-row stamp has no y / (H - 1); SetPercent counts it as finished.
            return ctx.StepDone(y, int64_t{stamp.Height} - 1);
        });
}

}  // namespace

void MaxStampDomes(FloatImage& image, const FloatImage& pattern,
                   const std::vector<RidgeDome>& domes, RenderContext& ctx) {
    const std::vector<float> opaqueR = OpaqueR(pattern);
    const float* opaque = opaqueR.empty() ? nullptr : opaqueR.data();
    // Opaque domes leave each pixel they reach at the float of their largest sample at or
    // above it (or as it was), whatever their order: so the highest go first, after which
    // most pixels of the lower ones fail the bound and fewer pixels are raised twice. A
    // dome of no positive amplitude paints nothing and goes last.
    std::vector<size_t> order(domes.size());
    std::iota(order.begin(), order.end(), size_t{0});
    if (opaque) {
        const auto height = [&](size_t k) {
            return domes[k].amplitude > 0 ? domes[k].amplitude : 0.0;
        };
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return height(a) > height(b); });
    }
    std::optional<MaxStampBounds> bounds;
    if (opaque) bounds = MaxStampBounds::Of(image, opaque, pattern.Width, pattern.Height);
    if (bounds) {
        std::atomic<bool> gray = true;
        ParallelForBands(ctx, image.Height, kBandRows, [&](int64_t y0, int64_t y1) {
            if (!bounds->TakeFloors(image, y0, y1)) gray = false;
        });
        if (!gray) bounds.reset();
    }
    // The domes' taps are worked out and painted a run of domes at a time, the runs holding
    // about kRunTaps taps, so that a large stamp's thousands of domes never hold all their
    // taps at once. Every band meets the domes in one order.
    constexpr double kRunTaps = 1 << 20;
    std::vector<MaxStampSquare> steps;
    for (size_t first = 0; first < order.size();) {
        size_t end = first;
        for (double taps = 0; end < order.size() && (end == first || taps < kRunTaps); ++end) {
            taps += 4 * domes[order[end]].radius + 4;
        }
        steps.resize(end - first);
        ParallelForBands(
            ctx, static_cast<int64_t>(end - first), kDomesPerBand, [&](int64_t k0, int64_t k1) {
                for (int64_t k = k0; k < k1; ++k) {
                    const RidgeDome& dome = domes[order[first + static_cast<size_t>(k)]];
                    steps[static_cast<size_t>(k)] = MaxStampSquareOf(image, pattern, dome.amplitude,
                                                                     dome.radius, dome.cx, dome.cy);
                }
            });
        ParallelForBands(ctx, image.Height, kRidgeBandRows, [&](int64_t y0, int64_t y1) {
            for (const MaxStampSquare& step : steps) {
                MaxStampRows(image, pattern, opaque, step, y0, y1, bounds ? &*bounds : nullptr);
            }
        });
        first = end;
    }
}

namespace {

// Ridges running outward from the rim crest, each drawn as a row of shrinking domes from
// its far end back to the rim. The draws and dome positions of all ridges come first, in
// their order; then every band of stamp rows replays the domes in that order.
void DrawRidges(FloatImage& stamp, const FloatImage& dome, const CraterShape& shape,
                double sizeFraction, double noise, RenderContext& ctx) {
    const Extended cx = stamp.Width / 2;
    const Extended cy = stamp.Height / 2;
    const int32_t spread = Round(CurveOut(30.0, 10.0, 1.0, 0.0, sizeFraction, 1.5));
    const int32_t least = Round(CurveOut(15.0, 5.0, 1.0, 0.0, sizeFraction, 2.0));
    const int32_t extra = ctx.rng.Random(spread);
    const int32_t count = extra + least;

    // The draws come first, ridge by ridge; the domes of each ridge follow from its draws
    // alone and are worked out side by side.
    struct Ridge {
        double q, p1x, p1y;
        Extended dx, dy;
        int32_t n;
        size_t first;  // its first step (and step draw)
    };
    std::vector<Ridge> ridges;
    std::vector<double> draws;
    std::vector<uint32_t> statesAfter;
    for (int32_t i = 1; i <= count; ++i) {
        // Draws per ridge: the angle, the width, then one per step.
        const int32_t halfAngle = ctx.rng.Random(180);
        const double q = ctx.rng.RandomReal();
        const Extended theta = static_cast<Extended>(halfAngle) * 2;
        // The first ridge reaches the stamp's edge, the last ends at the crater's edge. A
        // single ridge has an empty interval and ends at the crater's edge.
        const double far = CurveIn(stamp.Width / 2.0, shape.R, 1.0, count, i, 3.0);
        const Vector2 rim = RotateVector(shape.innerR, 0, theta);
        const Vector2 end = RotateVector(far, 0, theta);
        // The ends are points, stored as doubles; their difference and the steps between
        // them are extended. Where |P2 - P1| lies near a half, keeping the ends wider would
        // round n the other way.
        Ridge ridge;
        ridge.q = q;
        ridge.p1x = static_cast<double>(cx + rim.x);
        ridge.p1y = static_cast<double>(cy + rim.y);
        const double p2x = static_cast<double>(cx + end.x);
        const double p2y = static_cast<double>(cy + end.y);
        ridge.dx = static_cast<Extended>(p2x) - ridge.p1x;
        ridge.dy = static_cast<Extended>(p2y) - ridge.p1y;
        ridge.n = Round(std::sqrt(ridge.dx * ridge.dx + ridge.dy * ridge.dy));
        ridge.first = draws.size();
        for (int32_t j = ridge.n; ridge.n > 0 && j >= 0; --j) draws.push_back(ctx.rng.RandomReal());
        ridges.push_back(ridge);
        statesAfter.push_back(ctx.rng.state);
    }
    // Where each dome lands, ridge by ridge side by side.
    std::vector<RidgeDome> places(draws.size());
    ParallelForBands(ctx, static_cast<int64_t>(ridges.size()), 1, [&](int64_t k, int64_t) {
        const Ridge& ridge = ridges[static_cast<size_t>(k)];
        const int32_t n = ridge.n;
        size_t at = ridge.first;
        for (int32_t j = n; n > 0 && j >= 0; --j, ++at) {
            RidgeDome& place = places[at];
            place.cx = static_cast<Extended>(ridge.p1x) + ridge.dx * j / n;
            place.cy = static_cast<Extended>(ridge.p1y) + ridge.dy * j / n;
            place.radius = CurveOut(shape.R * ridge.q, 0.0, 0.0, n, j, 3.0);
            const double p = static_cast<double>(static_cast<Extended>(draws[at]) * noise + 1.0L);
            place.amplitude = CurveOut(static_cast<double>(shape.rimH / 255.0L), 0.0, 0.0, n, j, p);
        }
    });
    MaxStampDomes(stamp, dome, places, ctx);
    for (int32_t i = 1; i <= count; ++i) {
        if (ctx.StepDone(i, count)) {
            // The generator ends where the serial loop would have stopped drawing.
            ctx.rng.state = statesAfter[static_cast<size_t>(i - 1)];
            return;
        }
    }
}

// Whether every swirl-map value a stamp of these pattern values can make is finite: a
// pixel's channel sums at most kSwirlStamps of them.
bool SumsStayFinite(const std::vector<float>& values) {
    return std::all_of(values.begin(), values.end(), [](float v) { return std::fabs(v) <= 1e36f; });
}

// One pattern of the swirl map as drawn: its values in its one channel, and the rectangles
// it is stamped onto.
struct SwirlPattern {
    std::vector<float> values;
    SourceLayout layout;
    size_t end;  // one past its last rectangle
};

// The draws of the swirl map: the patterns, each kept, and every rectangle, in the order of
// the draws. Stops where the serial loop would have stopped drawing on an abort.
void DrawSwirlStamps(const FloatImage& swirl, FloatImage& pattern, BrushCache& brushes,
                     RenderContext& ctx, std::vector<SwirlPattern>& drawn,
                     std::vector<ImageRect>& rects) {
    // Only the stamps read the pattern: they read its carved plane where it has one.
    DeferredBrush deferred(pattern, brushes, ctx);
    for (int32_t first = 1; first <= kSwirlStamps;) {
        SourceLayout layout = SourceLayout::General;
        if (first == 1) {
            DomePattern(pattern, true, false, false, 3, -2.0, brushes, ctx);
            layout = PatternLayout(true, false, false, 3);
        } else if (first == 34) {
            RingPattern(pattern, false, true, false, 4, 2.0, brushes, ctx);
            layout = PatternLayout(false, true, false, 4);
        } else {
            RingPattern(pattern, false, false, true, 5, 2.0, brushes, ctx);
            layout = PatternLayout(false, false, true, 5);
        }
        drawn.push_back({{}, layout, 0});
        std::vector<float>& values = drawn.back().values;
        const float* plane = deferred.TakeValues(layout, values);
        if (plane != values.data()) values.assign(plane, plane + pattern.PixelCount());
        // The stamps up to the next regeneration share the pattern.
        const int32_t last = first < 34 ? 33 : first < 67 ? 66 : first < 100 ? 99 : 100;
        std::vector<uint32_t> statesAfter;
        for (int32_t i = first; i <= last; ++i) {
            // Draws: left, top, width, height.
            const int32_t left = ctx.rng.Random(swirl.Width);
            const int32_t top = ctx.rng.Random(swirl.Height);
            const int32_t width = ctx.rng.Random(swirl.Width);
            const int32_t height = ctx.rng.Random(swirl.Height);
            statesAfter.push_back(ctx.rng.state);
            rects.push_back({left, top, width, height});
        }
        drawn.back().end = rects.size();
        bool stopped = false;
        for (int32_t i = first; i <= last && !stopped; ++i) {
            if (ctx.StepDone(i, kSwirlStamps)) {
                ctx.rng.state = statesAfter[static_cast<size_t>(i - first)];
                stopped = true;
            }
        }
        if (stopped) break;  // the stamps drawn so far are still painted below
        first = last + 1;
    }
}

// The stamps of the swirl map as planned, with their patterns, and where they are added.
struct SwirlStamps {
    const std::vector<SwirlPattern>& drawn;
    const std::vector<std::optional<StretchPlan>>& plans;
    const std::vector<size_t>& patternOf;  // per stamp, its pattern in drawn
    const ChannelPlane* planes;            // one per colour channel, or null for the map
};

// The swirl map's rows top <= y < end: every stamp in order, in the hull of the rows'
// windows.
void PaintSwirlBand(FloatImage& swirl, const SwirlStamps& stamps,
                    const std::vector<ColumnSpan>& window, int32_t top, int32_t end) {
    int32_t x0 = swirl.Width, x1 = 0;
    for (int32_t y = top; y < end; ++y) {
        const ColumnSpan& c = window[static_cast<size_t>(y)];
        if (c.x0 >= c.x1) continue;
        x0 = std::min(x0, c.x0);
        x1 = std::max(x1, c.x1);
    }
    if (x0 >= x1) return;
    const ChannelPlane* planes = stamps.planes;
    if (planes) {
        for (int32_t y = top; y < end; ++y) {
            for (size_t k = 0; k < 3; ++k) {
                std::fill(planes[k].Row(y) + x0, planes[k].Row(y) + x1, 0.0f);
            }
        }
    }
    for (size_t k = 0; k < stamps.plans.size(); ++k) {
        const SwirlPattern& from = stamps.drawn[stamps.patternOf[k]];
        if (planes) {
            const ChannelPlane& into = planes[from.layout == SourceLayout::OnlyR   ? 0
                                              : from.layout == SourceLayout::OnlyG ? 1
                                                                                   : 2];
            stamps.plans[k]->PaintBand(from.values.data(), into, top, end, x0, x1);
        } else {
            stamps.plans[k]->PaintBand(from.values.data(), swirl, top, end);
        }
    }
    if (!planes) return;
    // Each pattern's AddDirect stamps add +0 to the channels it does not carry, which
    // changes only a -0; a channel's sums of positive values never are -0, so each
    // channel is its plane.
    for (int32_t y = top; y < end; ++y) {
        const float* r = planes[0].Row(y);
        const float* g = planes[1].Row(y);
        const float* b = planes[2].Row(y);
        FloatPixel* out = swirl.Row(y);
        for (int32_t x = x0; x < x1; ++x) out[x] = {r[x], g[x], b[x], 255.0f};
    }
}

// The swirl map: R gathers carved domes, G and B carved ring discs, each pattern stretched
// onto random rectangles. The patterns and every rectangle are drawn first, in the order of
// the draws, each pattern's values kept; the stamps are then painted band by band, each
// band replaying them in order.
//
// With room for planes (an image of the swirl map's size whose content may go), the stamps
// of each pattern are added into a plane of the one channel they carry, a quarter of the
// bytes, and the map is put together from the planes at the end; its A, which only a watched
// map shows, is then 255. Only the window's pixels are then made, unless a pattern's values
// could sum to a value that is not finite (a pixel outside the window could then be sent
// anywhere): the window becomes the whole map.
void BuildSwirlMap(FloatImage& swirl, FloatImage& pattern, BrushCache& brushes, RenderContext& ctx,
                   FloatImage* planeRoom, std::vector<ColumnSpan>& window) {
    const ImageRect source{0, 0, pattern.Width, pattern.Height};
    std::vector<SwirlPattern> drawn;
    std::vector<ImageRect> rects;
    DrawSwirlStamps(swirl, pattern, brushes, ctx, drawn, rects);
    if (!planeRoom || !std::all_of(drawn.begin(), drawn.end(), [](const SwirlPattern& d) {
            return SumsStayFinite(d.values);
        })) {
        window.assign(static_cast<size_t>(swirl.Height), ColumnSpan{0, swirl.Width});
    }
    // The plans depend on the draws alone: they are made side by side.
    std::vector<std::optional<StretchPlan>> plans(rects.size());
    std::vector<size_t> patternOf(rects.size());
    for (size_t k = 0, d = 0; k < rects.size(); ++k) {
        while (k >= drawn[d].end) ++d;
        patternOf[k] = d;
    }
    ParallelForBands(ctx, static_cast<int64_t>(rects.size()), 1, [&](int64_t k, int64_t) {
        plans[static_cast<size_t>(k)].emplace(
            pattern.Width, pattern.Height, drawn[patternOf[static_cast<size_t>(k)]].layout, source,
            swirl.Width, swirl.Height, rects[static_cast<size_t>(k)], Wrap::On,
            BlendMode::AddDirect, StretchSampling::Nearest);
    });
    ChannelPlane planes[3];
    if (planeRoom) {
        const size_t n = swirl.PixelCount();
        for (size_t k = 0; k < 3; ++k) {
            planes[k] = {&planeRoom->Data()->R + k * n, swirl.Width, swirl.Height};
        }
    }
    const SwirlStamps stamps{drawn, plans, patternOf, planeRoom ? planes : nullptr};
    ParallelForBands(ctx, swirl.Height, kBandRows, [&](int64_t b0, int64_t b1) {
        PaintSwirlBand(swirl, stamps, window, static_cast<int32_t>(b0), static_cast<int32_t>(b1));
    });
}

}  // namespace

CraterShape MakeCraterShape(int32_t stampWidth, double sizeFraction) {
    CraterShape shape;
    shape.R = Round(static_cast<Extended>(stampWidth) / 2 * sizeFraction);
    shape.innerR = static_cast<double>(shape.R * 0.8L);
    shape.floor = static_cast<double>(-static_cast<Extended>(sizeFraction) * 255);
    shape.rimH = CurveIn(255.0, 1.0, 1.0, 0.0, sizeFraction, 3.0);
    return shape;
}

namespace {

// The curve of the profile at distance d <= R: the bowl below innerR, the rim's outer slope
// beyond.
struct ProfileCurve {
    bool out;
    double y0, y1, x0, x1, p;
};
ProfileCurve ProfileCurveAt(const CraterShape& shape, double d, double draw, double noise) {
    if (d < shape.innerR) {
        const double p = static_cast<double>(static_cast<Extended>(draw) * noise + 3.0L);
        return {false, shape.floor, shape.rimH, 0.0, shape.innerR, p};
    }
    // With R = 0 the rim slope is an empty interval at the centre; its end value 0 keeps the
    // point flat.
    const double p = static_cast<double>(static_cast<Extended>(draw) * noise + 1.0L);
    return {true, shape.rimH, 0.0, shape.innerR, static_cast<double>(shape.R), p};
}

}  // namespace

CraterProfilePoint CraterProfile(const CraterShape& shape, double d, double draw, double noise) {
    if (d > shape.R) return {0.0, false};
    const ProfileCurve c = ProfileCurveAt(shape, d, draw, noise);
    return {
        c.out ? CurveOut(c.y0, c.y1, c.x0, c.x1, d, c.p) : CurveIn(c.y0, c.y1, c.x0, c.x1, d, c.p),
        !c.out};
}

float CraterHeightFloat(const CraterShape& shape, double d, double draw, double noise) {
    if (d > shape.R) return 0.0f;
    const ProfileCurve c = ProfileCurveAt(shape, d, draw, noise);
    return CurveFloat(c.out, c.y0, c.y1, c.x0, c.x1, d, c.p);
}

namespace {

// image, unless it already has width x height pixels, becomes a new image of that size;
// false when the memory cannot be had.
bool Fit(std::optional<FloatImage>& image, int32_t width, int32_t height) {
    if (image && image->Width == width && image->Height == height) return true;
    image.reset();
    image = NewImage(width, height);
    return image.has_value();
}

}  // namespace

bool BuildCraterStamp(FloatImage& stamp, double sizeFraction, double warpStrength, double noise,
                      RenderContext& ctx) {
    CraterScratch scratch;
    return BuildCraterStamp(stamp, sizeFraction, warpStrength, noise, ctx, scratch);
}

bool BuildCraterStamp(FloatImage& stamp, double sizeFraction, double warpStrength, double noise,
                      RenderContext& ctx, CraterScratch& scratch) {
    FillImage(stamp, kOpaqueBlack, ctx);
    const CraterShape shape = MakeCraterShape(stamp.Width, sizeFraction);
    CarveBowlAndRim(stamp, shape, noise, ctx);
    ctx.ReportProgress(stamp, "地表ハイトマップ・クレーター穴部作成終了");

    if (!Fit(scratch.pattern, stamp.Width / 4, stamp.Height / 4)) {
        ctx.failure = "not enough memory for the crater pattern";
        return false;
    }
    std::optional<FloatImage>& pattern = scratch.pattern;
    DomePattern(*pattern, true, true, true, 0, 3.0, ctx.rng);  // no draws with count 0
    DrawRidges(stamp, *pattern, shape, sizeFraction, noise, ctx);
    ctx.ReportProgress(stamp, "地表ハイトマップ・クレーター基本形作成終了");

    if (!Fit(scratch.swirl, stamp.Width, stamp.Height) ||
        !Fit(scratch.swirled, stamp.Width, stamp.Height)) {
        ctx.failure = "not enough memory for the crater swirl map";
        return false;
    }
    std::optional<FloatImage>& swirl = scratch.swirl;
    std::optional<FloatImage>& swirled = scratch.swirled;
    // Nobody sees the swirl map: its channels are stamped in planes held by the swirled
    // image, which the swirl then overwrites.
    const bool planes = !ctx.ImagesWatched();
    if (!planes) {
        FillImage(*swirl, kOpaqueBlack, ctx);
        FillImage(*swirled, kOpaqueBlack, ctx);
    }
    // Unwatched, the map and the swirl are made only where a pixel can fetch some of the
    // crater; the rest of the swirled stamp is opaque black.
    std::vector<ColumnSpan> window =
        planes ? SwirlReach(stamp, warpStrength, warpStrength, ctx)
               : std::vector<ColumnSpan>(static_cast<size_t>(stamp.Height), {0, stamp.Width});
    BuildSwirlMap(*swirl, *pattern, scratch.brushes, ctx, planes ? &*swirled : nullptr, window);
    ctx.ReportProgress(*swirl, "地表ハイトマップ・クレーターゆらぎフィルタ作成終了");
    SwirlImage(stamp, *swirl, *swirled, warpStrength, warpStrength, ctx, window);
    // An aborted swirl leaves rows of the planes behind; the stamp is discarded, but it is
    // still made of sane values.
    if (planes && ctx.Aborted()) FillImage(*swirled, kOpaqueBlack, ctx);
    ctx.ReportProgress(*swirled, "地表ハイトマップ・クレーター作成終了");
    // The swirled stamp, opaque.
    const float opaque = static_cast<float>(Extended{255});
    ParallelForBands(ctx, stamp.Height, kBandRows, [&](int64_t y0, int64_t y1) {
        const size_t first = static_cast<size_t>(y0) * stamp.Width;
        const size_t end = static_cast<size_t>(y1) * stamp.Width;
        for (size_t i = first; i < end; ++i) {
            FloatPixel p = swirled->Data()[i];
            p.A = opaque;
            stamp.Data()[i] = p;
        }
    });
    return true;
}

}  // namespace globeforge
