// Crater placement: the crater stamps scattered over a polar image per hemisphere, projected
// onto the heightmap.
#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "core/parallel.h"
#include "generate/channel_ops.h"
#include "generate/craters.h"
#include "generate/curves.h"
#include "generate/distance.h"
#include "generate/warp.h"
#include "image/scalar_image.h"
#include "image/stretch_plan.h"

namespace globeforge {

namespace {

// A huge NumberOfCraters would keep the stage busy for days while adding nothing a few
// hundred thousand craters have not already covered, so each hemisphere takes at most this
// many.
constexpr int64_t kMaxCratersPerHemisphere = 100000;

// When the radius draws are too large for the polar image, a position that fits may never
// come; a crater gives up after this many attempts (their draws are made), and the
// hemisphere places no further craters, which would fare no better.
constexpr int64_t kMaxPlacementAttempts = 1000000;
// How many distance steps ahead a hemisphere's projection asks for the pixels it will need.
constexpr int32_t kProjectAhead = 8;

// When only a sliver of the radius draws fits, every crater finds its place only after
// thousands of attempts, and a large NumberOfCraters turns that into hours. A hemisphere
// therefore stops after this many attempts in all; ordinary radii need a few per crater, so
// no planet short of that is changed.
constexpr int64_t kMaxAttemptsPerHemisphere = 4000000;

bool FitsInt32(int64_t v) {
    return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

// Calls fn(first value, value count) for the values of each band of rows.
template <typename Fn>
void ForValueBands(ScalarImage& image, RenderContext& ctx, Fn&& fn) {
    ParallelForBands(ctx, image.Height, kBandRows, [&](int64_t y0, int64_t y1) {
        fn(image.Row(static_cast<int32_t>(y0)), static_cast<size_t>(y1 - y0) * image.Width);
    });
}

// Places the craters of one hemisphere on the polar work image. Each crater is one bilinear
// stretch of a gray stamp, painted in bands of work rows.
void ScatterCraters(const RenderParams& params, const std::vector<ScalarImage>& stamps,
                    ScalarImage& work, int32_t m, RenderContext& ctx) {
    const ScalarImage& first = stamps.front();
    const ImageRect source{0, 0, first.Width, first.Height};
    const int32_t hwx = work.Width / 2;
    const int32_t hwy = work.Height / 2;
    const Extended halfWidth = first.Width / 2.0L;
    const Extended radiusFactor = params.CraterBasicRadius / 10.0L;
    const int64_t last =
        std::min<int64_t>(params.NumberOfCraters / 2, kMaxCratersPerHemisphere - 1);
    int64_t attemptsLeft = kMaxAttemptsPerHemisphere;
    for (int64_t j = 0; j <= last; ++j) {
        // Even craters stay within their hemisphere, odd ones may reach past the equator.
        const int32_t limit = j % 2 == 0 ? m / 2 : work.Width / 2;
        int32_t cx = 0, cy = 0, r = 0;
        bool placed = false;
        for (int64_t attempt = 0; attempt < kMaxPlacementAttempts && attemptsLeft > 0 && !placed;
             ++attempt, --attemptsLeft) {
            // Draws per attempt: cx, cy, radius.
            cx = ctx.rng.Random(work.Width);
            cy = ctx.rng.Random(work.Height);
            const double u = ctx.rng.RandomReal();
            // Left to right: the draw times the half width, then times the factor.
            r = Round(static_cast<Extended>(u) * halfWidth * radiusFactor);
            placed = Distance(int64_t{cx} - hwx, int64_t{cy} - hwy) + r < limit;
        }
        if (!placed) return;
        const int32_t k = ctx.rng.Random(kCraterStampCount);
        const int64_t size = 2 * int64_t{r};
        const int64_t left = int64_t{cx} - r;
        const int64_t top = int64_t{cy} - r;
        if (FitsInt32(size) && FitsInt32(left) && FitsInt32(top)) {
            const ScalarImage& stamp = stamps[static_cast<size_t>(k)];
            const StretchPlan plan(stamp.Width, stamp.Height, SourceLayout::Gray, source,
                                   work.Width, work.Height,
                                   {static_cast<int32_t>(left), static_cast<int32_t>(top),
                                    static_cast<int32_t>(size), static_cast<int32_t>(size)},
                                   Wrap::On, BlendMode::AddDirect, StretchSampling::Bilinear);
            ParallelForBands(ctx, work.Height, kBandRows, [&](int64_t y0, int64_t y1) {
                plan.PaintBand(stamp, work, static_cast<int32_t>(y0), static_cast<int32_t>(y1));
            });
        }
        // With a single crater there is no j / half; SetPercent counts it as finished.
        if (ctx.StepDone(j, last)) return;
    }
}

// Azimuthal equidistant projection of the polar work image onto the hemisphere's rows,
// added to the heightmap: row t lies t / rows of the work radius from the pole. Columns are
// independent (each writes only its own pixels) and share one angle each.
void ProjectHemisphere(const ScalarImage& work, FloatImage& image, bool north, int32_t rows,
                       RenderContext& ctx) {
    const int32_t hwx = work.Width / 2;
    const int32_t hwy = work.Height / 2;
    const bool sampled = work.PixelCount() > 0;
    ParallelRows(
        ctx, image.Width, kBandRows,
        [&](int64_t x0, int64_t x1) {
            // The band's columns go distance by distance side by side: neighbouring rays
            // read nearby pixels of the work image and write along one image row, where one
            // ray at a time would touch a new row of both for every pixel.
            std::vector<Turn> turns;
            for (int32_t x = static_cast<int32_t>(x0); x < x1; ++x) {
                // The angle and the distance are stored values: doubles.
                const double phi =
                    static_cast<double>(static_cast<Extended>(x) / image.Width * 360.0L);
                turns.push_back(TurnOf(phi));
            }
            // The turns in double, for finding the pixels to ask for.
            std::vector<double> cosines, sines;
            for (const Turn& turn : turns) {
                cosines.push_back(static_cast<double>(turn.c));
                sines.push_back(static_cast<double>(turn.s));
            }
            const auto rhoOf = [&](int32_t t) {
                return rows == 0
                           ? 0.0
                           : static_cast<double>(static_cast<Extended>(t) / rows * work.Width / 2);
            };
            for (int32_t t = 0; sampled && t <= rows; ++t) {
                const int64_t row = north ? t : int64_t{image.Height} - t;
                if (row < 0 || row >= image.Height) continue;  // row H in the south
                const double rho = rhoOf(t);
                // The rays wander across the work image and down the image, neither of
                // which the hardware foresees: the pixels a few steps on are asked for now.
                if (const int32_t ahead = t + kProjectAhead; ahead <= rows) {
                    const double rhoAhead = rhoOf(ahead);
                    for (size_t k = 0; k < cosines.size(); ++k) {
                        const double px = hwx + rhoAhead * cosines[k];
                        const double py = hwy + rhoAhead * sines[k];
                        if (px >= 0 && px < work.Width - 1 && py >= 0 && py < work.Height - 1) {
                            const float* at =
                                work.Row(static_cast<int32_t>(py)) + static_cast<int32_t>(px);
                            __builtin_prefetch(at);
                            __builtin_prefetch(at + work.Width);
                        }
                    }
                    const int64_t rowAhead = north ? ahead : int64_t{image.Height} - ahead;
                    if (rowAhead >= 0 && rowAhead < image.Height) {
                        const FloatPixel* first = image.Row(static_cast<int32_t>(rowAhead)) + x0;
                        for (const FloatPixel* p = first; p < first + (x1 - x0); p += 4) {
                            __builtin_prefetch(p, 1);
                        }
                    }
                }
                for (int32_t x = static_cast<int32_t>(x0); x < x1; ++x) {
                    const Vector2 offset = Rotate(rho, 0, turns[static_cast<size_t>(x - x0)]);
                    const float v = SampleBilinear(work, static_cast<double>(hwx + offset.x),
                                                   static_cast<double>(hwy + offset.y));
                    BlendPixelAt(image, x, static_cast<int32_t>(row), {v, v, v, 255.0f}, Wrap::Off,
                                 BlendMode::AddDirect);
                }
            }
        },
        [&](int64_t x) { return ctx.StepDone(x, image.Width); });
}

}  // namespace

void PlaceCraters(const RenderParams& params, FloatImage& image, RenderContext& ctx) {
    const int32_t m = IntMax(image.Width, image.Height);
    double scale = static_cast<double>(params.CraterBasicRadius / 10.0L / 8.0L + 1.2L);
    if (scale > 1.9) scale = 1.9;
    // A strongly negative radius makes the scale negative; the polar image is then empty.
    const int32_t side = std::max(0, Round(static_cast<Extended>(m) * scale));
    // The polar image and the finished stamps are gray and opaque: one float per pixel.
    std::optional<ScalarImage> work = NewScalarImage(side, side);
    if (!work) {
        ctx.failure = "not enough memory for the crater work image";
        return;
    }

    std::vector<ScalarImage> stamps;
    stamps.reserve(kCraterStampCount);
    const double warp = static_cast<double>(params.CraterWarp / 10.0L);
    const double noise = static_cast<double>(params.CraterNoise / 100.0L);
    // Each stamp is built in full colour (the bowl's A = -1 is part of what is shown).
    std::optional<FloatImage> building = NewImage(image.Width / 4, image.Height / 4);
    if (!building) {
        ctx.failure = "not enough memory for the crater stamps";
        return;
    }
    CraterScratch scratch;
    for (int32_t k = 1; k <= kCraterStampCount; ++k) {
        const double sizeFraction = CurveIn(0.1, 0.5, 1.0, kCraterStampCount, k, 2.0);
        if (!BuildCraterStamp(*building, sizeFraction, warp, noise, ctx, scratch)) return;
        // In bands: at 16384 x 8192 each stamp is 8 million pixels.
        std::optional<ScalarImage> stamp = NewScalarImage(building->Width, building->Height);
        if (!stamp) {
            ctx.failure = "not enough memory for the crater stamps";
            return;
        }
        ParallelForBands(ctx, stamp->Height, kBandRows, [&](int64_t y0, int64_t y1) {
            GrayRowsInto(*building, *stamp, static_cast<int32_t>(y0), static_cast<int32_t>(y1));
        });
        stamps.push_back(std::move(*stamp));
        if (ctx.Aborted()) return;
        // After the last stamp an abort lets placement run its first step of each phase.
        if (ctx.StepDone(k, kCraterStampCount) && k < kCraterStampCount) return;
    }
    building.reset();
    scratch.Release();

    const int32_t rows = Round(static_cast<Extended>(image.Height) * scale / 2);
    // Without room at the pole (m div 2 = 0) no attempt could ever fit, and an empty stamp
    // would stamp nothing: such layers get no craters.
    const bool canPlace = m / 2 > 0 && stamps.front().PixelCount() > 0 && work->PixelCount() > 0;
    for (const bool north : {true, false}) {
        const std::string name = north ? "北半球" : "南半球";
        ForValueBands(*work, ctx, [](float* v, size_t n) { std::fill_n(v, n, 0.0f); });
        if (canPlace) ScatterCraters(params, stamps, *work, m, ctx);
        ctx.ReportProgress(*work, "地表ハイトマップ・" + name + "クレーター配置終了");
        // As ScaleValues does, in bands.
        const Extended height = static_cast<double>(params.CraterHeight / 100.0L);
        ForValueBands(*work, ctx, [height](float* v, size_t n) {
            for (size_t i = 0; i < n; ++i) v[i] = static_cast<float>(v[i] * height);
        });
        ProjectHemisphere(*work, image, north, rows, ctx);
        ctx.ReportProgress(image, "地表ハイトマップ：" + name + "クレーター展開終了");
        if (ctx.Aborted()) break;
    }
    NormalizeImage(image, ctx);
#ifdef __GLIBC__
    // The stamps came from the heap, where blocks allocated after them and still in use keep
    // their freed pages from returning to the system: without this a render held about
    // 90 MB more from here on at 4096 x 2048.
    malloc_trim(0);
#endif
}

}  // namespace globeforge
