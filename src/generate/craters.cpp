#include "generate/craters.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "generate/channel_ops.h"
#include "generate/curves.h"
#include "generate/patterns.h"
#include "generate/warp.h"

namespace globeforge {

namespace {

constexpr int32_t kStampCount = 40;
constexpr int32_t kSwirlStamps = 100;

// A huge NumberOfCraters would keep the stage busy for days while adding nothing a few
// hundred thousand craters have not already covered, so each hemisphere takes at most this
// many.
constexpr int64_t kMaxCratersPerHemisphere = 100000;

// When the radius draws are too large for the polar image, a position that fits may never
// come; a crater gives up after this many attempts (their draws are made), and the
// hemisphere places no further craters, which would fare no better.
constexpr int64_t kMaxPlacementAttempts = 1000000;

// When only a sliver of the radius draws fits, every crater finds its place only after
// thousands of attempts, and a large NumberOfCraters turns that into hours. A hemisphere
// therefore stops after this many attempts in all; ordinary radii need a few per crater, so
// no planet short of that is changed.
constexpr int64_t kMaxAttemptsPerHemisphere = 4000000;

// The double square root of the exact integer sum.
double Distance(int64_t dx, int64_t dy) {
    return std::sqrt(static_cast<double>(dx * dx + dy * dy));
}

bool FitsInt32(int64_t v) {
    return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

// The sunken bowl and the rim's outer slope, one RandomReal() per pixel within the crater
// radius, in raster order. Bowl pixels get A = -1 so the ridges never fill them.
void CarveBowlAndRim(FloatImage& stamp, const CraterShape& shape, double noise,
                     RenderContext& ctx) {
    const int32_t cx = stamp.Width / 2;
    const int32_t cy = stamp.Height / 2;
    for (int32_t y = 0; y < stamp.Height; ++y) {
        for (int32_t x = 0; x < stamp.Width; ++x) {
            const double d = Distance(int64_t{x} - cx, int64_t{y} - cy);
            FloatPixel pixel = kOpaqueBlack;
            if (d <= shape.R) {
                const double draw = ctx.rng.RandomReal();
                const CraterProfilePoint point = CraterProfile(shape, d, draw, noise);
                const float v = static_cast<float>(point.height);
                pixel = {v, v, v, point.inBowl ? -1.0f : 255.0f};
            }
            SetPixel(stamp, x, y, pixel, Wrap::On);
        }
        // A one-row stamp has no y / (H - 1); SetPercent counts it as finished.
        if (ctx.StepDone(y, int64_t{stamp.Height} - 1)) return;
    }
}

// Ridges running outward from the rim crest, each drawn as a row of shrinking domes from
// its far end back to the rim.
void DrawRidges(FloatImage& stamp, const FloatImage& dome, const CraterShape& shape,
                double sizeFraction, double noise, RenderContext& ctx) {
    const Extended cx = stamp.Width / 2;
    const Extended cy = stamp.Height / 2;
    const int32_t spread = Round(CurveOut(30.0, 10.0, 1.0, 0.0, sizeFraction, 1.5));
    const int32_t least = Round(CurveOut(15.0, 5.0, 1.0, 0.0, sizeFraction, 2.0));
    const int32_t extra = ctx.rng.Random(spread);
    const int32_t count = extra + least;
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
        const Extended p1x = cx + rim.x;
        const Extended p1y = cy + rim.y;
        const Extended dx = (cx + end.x) - p1x;
        const Extended dy = (cy + end.y) - p1y;
        const int32_t n = Round(std::sqrt(dx * dx + dy * dy));
        for (int32_t j = n; n > 0 && j >= 0; --j) {
            const Extended mx = p1x + dx * j / n;
            const Extended my = p1y + dy * j / n;
            const double radius = CurveOut(shape.R * q, 0.0, 0.0, n, j, 3.0);
            const double draw = ctx.rng.RandomReal();
            const double p = static_cast<double>(static_cast<Extended>(draw) * noise + 1.0L);
            const double amplitude = CurveOut(shape.rimH / 255.0, 0.0, 0.0, n, j, p);
            MaxStamp(stamp, dome, amplitude, radius, mx, my);
        }
        if (ctx.StepDone(i, count)) return;
    }
}

// The swirl map: R gathers carved domes, G and B carved ring discs, each pattern stretched
// onto random rectangles.
void BuildSwirlMap(FloatImage& swirl, FloatImage& pattern, RenderContext& ctx) {
    const ImageRect source{0, 0, pattern.Width, pattern.Height};
    for (int32_t i = 1; i <= kSwirlStamps; ++i) {
        if (i == 1) {
            DomePattern(pattern, true, false, false, 3, -2.0, ctx.rng);
        } else if (i == 34) {
            RingPattern(pattern, false, true, false, 4, 2.0, ctx.rng);
        } else if (i == 67 || i == 100) {
            RingPattern(pattern, false, false, true, 5, 2.0, ctx.rng);
        }
        // Draws: left, top, width, height.
        const int32_t left = ctx.rng.Random(swirl.Width);
        const int32_t top = ctx.rng.Random(swirl.Height);
        const int32_t width = ctx.rng.Random(swirl.Width);
        const int32_t height = ctx.rng.Random(swirl.Height);
        StretchBlendNearest(pattern, source, swirl, {left, top, width, height}, Wrap::On,
                            BlendMode::AddDirect);
        if (ctx.StepDone(i, kSwirlStamps)) return;
    }
}

// Places the craters of one hemisphere on the polar work image.
void ScatterCraters(const RenderParams& params, const std::vector<FloatImage>& stamps,
                    FloatImage& work, int32_t m, RenderContext& ctx) {
    const FloatImage& first = stamps.front();
    const ImageRect source{0, 0, first.Width, first.Height};
    const int32_t hwx = work.Width / 2;
    const int32_t hwy = work.Height / 2;
    const Extended radiusScale = (first.Width / 2.0L) * (params.CraterBasicRadius / 10.0L);
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
            r = Round(static_cast<Extended>(u) * radiusScale);
            placed = Distance(int64_t{cx} - hwx, int64_t{cy} - hwy) + r < limit;
        }
        if (!placed) return;
        const int32_t k = ctx.rng.Random(kStampCount);
        const int64_t size = 2 * int64_t{r};
        const int64_t left = int64_t{cx} - r;
        const int64_t top = int64_t{cy} - r;
        if (FitsInt32(size) && FitsInt32(left) && FitsInt32(top)) {
            StretchBlendBilinear(stamps[k], source, work,
                                 {static_cast<int32_t>(left), static_cast<int32_t>(top),
                                  static_cast<int32_t>(size), static_cast<int32_t>(size)},
                                 Wrap::On, BlendMode::AddDirect);
        }
        // With a single crater there is no j / half; SetPercent counts it as finished.
        if (ctx.StepDone(j, last)) return;
    }
}

// Azimuthal equidistant projection of the polar work image onto the hemisphere's rows,
// added to the heightmap: row t lies t / rows of the work radius from the pole.
void ProjectHemisphere(const FloatImage& work, FloatImage& image, bool north, int32_t rows,
                       RenderContext& ctx) {
    const int32_t hwx = work.Width / 2;
    const int32_t hwy = work.Height / 2;
    const bool sampled = work.PixelCount() > 0;
    for (int32_t x = 0; x < image.Width; ++x) {
        const Extended phi = static_cast<Extended>(x) / image.Width * 360.0L;
        for (int32_t t = 0; sampled && t <= rows; ++t) {
            const int64_t row = north ? t : int64_t{image.Height} - t;
            if (row < 0 || row >= image.Height) continue;  // row H in the south
            const Extended rho =
                rows == 0 ? 0.0L : static_cast<Extended>(t) / rows * work.Width / 2;
            const Vector2 offset = RotateVector(rho, 0, phi);
            const FloatPixel sample = SampleBilinear(work, static_cast<double>(hwx + offset.x),
                                                     static_cast<double>(hwy + offset.y));
            BlendPixelAt(image, x, static_cast<int32_t>(row), sample, Wrap::Off,
                         BlendMode::AddDirect);
        }
        if (ctx.StepDone(x, image.Width)) return;
    }
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

CraterProfilePoint CraterProfile(const CraterShape& shape, double d, double draw, double noise) {
    if (d > shape.R) return {0.0, false};
    if (d < shape.innerR) {
        const double p = static_cast<double>(static_cast<Extended>(draw) * noise + 3.0L);
        return {CurveIn(shape.floor, shape.rimH, 0.0, shape.innerR, d, p), true};
    }
    // With R = 0 the rim slope is an empty interval at the centre; its end value 0 keeps the
    // point flat.
    const double p = static_cast<double>(static_cast<Extended>(draw) * noise + 1.0L);
    return {CurveOut(shape.rimH, 0.0, shape.innerR, shape.R, d, p), false};
}

bool BuildCraterStamp(FloatImage& stamp, double sizeFraction, double warpStrength, double noise,
                      RenderContext& ctx) {
    FillImage(stamp, kOpaqueBlack);
    const CraterShape shape = MakeCraterShape(stamp.Width, sizeFraction);
    CarveBowlAndRim(stamp, shape, noise, ctx);
    ctx.ReportProgress(stamp, "地表ハイトマップ・クレーター穴部作成終了");

    std::optional<FloatImage> pattern = NewImage(stamp.Width / 4, stamp.Height / 4);
    if (!pattern) {
        ctx.failure = "not enough memory for the crater pattern";
        return false;
    }
    DomePattern(*pattern, true, true, true, 0, 3.0, ctx.rng);  // no draws with count 0
    DrawRidges(stamp, *pattern, shape, sizeFraction, noise, ctx);
    ctx.ReportProgress(stamp, "地表ハイトマップ・クレーター基本形作成終了");

    std::optional<FloatImage> swirl = NewFilledImage(stamp.Width, stamp.Height, kOpaqueBlack);
    std::optional<FloatImage> swirled = NewFilledImage(stamp.Width, stamp.Height, kOpaqueBlack);
    if (!swirl || !swirled) {
        ctx.failure = "not enough memory for the crater swirl map";
        return false;
    }
    BuildSwirlMap(*swirl, *pattern, ctx);
    ctx.ReportProgress(*swirl, "地表ハイトマップ・クレーターゆらぎフィルタ作成終了");
    SwirlImage(stamp, *swirl, *swirled, warpStrength, warpStrength, ctx);
    ctx.ReportProgress(*swirled, "地表ハイトマップ・クレーター作成終了");
    CopyImage(stamp, *swirled);
    FillAlpha(stamp, 255);
    return true;
}

void MaxStamp(FloatImage& image, const FloatImage& pattern, Extended amplitude, Extended radius,
              Extended cx, Extended cy) {
    if (!(radius > 0) || !(amplitude > 0) || pattern.PixelCount() == 0) return;
    const Extended stepX = pattern.Width / (2 * radius);
    const Extended stepY = pattern.Height / (2 * radius);
    const int64_t y0 = Round(cy - radius);
    const int64_t y1 = Round(cy + radius);
    const int64_t x0 = Round(cx - radius);
    const int64_t x1 = Round(cx + radius);
    Extended sy = 0;
    for (int64_t y = y0; y <= y1; ++y) {
        Extended sx = 0;
        for (int64_t x = x0; x <= x1; ++x) {
            if (FitsInt32(x) && FitsInt32(y)) {
                const int32_t xi = static_cast<int32_t>(x);
                const int32_t yi = static_cast<int32_t>(y);
                const FloatPixel cur = GetPixel(image, xi, yi, Wrap::Off);
                const FloatPixel smp =
                    SampleBilinear(pattern, static_cast<double>(sx), static_cast<double>(sy));
                const Extended v = amplitude * smp.R;
                if (v >= cur.R && cur.A >= 0) {
                    const float vf = static_cast<float>(v);
                    SetPixel(image, xi, yi, {vf, vf, vf, smp.A}, Wrap::Off);
                } else {
                    SetPixel(image, xi, yi, {cur.R, cur.R, cur.R, cur.A}, Wrap::Off);
                }
            }
            sx += stepX;
        }
        sy += stepY;
    }
}

void SwirlImage(const FloatImage& src, const FloatImage& warpMap, FloatImage& dst, double strengthX,
                double strengthY, RenderContext& ctx) {
    if (src.PixelCount() == 0) return;
    const int32_t w = dst.Width;
    const int32_t h = dst.Height;
    const int32_t hw = w / 2;
    const int32_t hh = h / 2;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const FloatPixel q = GetPixel(warpMap, x, y, Wrap::Off);
            const Extended theta = q.R * 0.00392156862745098L * 360.0L;
            // An axis one pixel long has no centre to pull toward: its component stays 0.
            double u = hw == 0 ? 0.0
                               : static_cast<double>(static_cast<Extended>(hw - x) / hw *
                                                     ((q.G + 1.0L) / 255.0L));
            double v = hh == 0 ? 0.0
                               : static_cast<double>(static_cast<Extended>(hh - y) / hh *
                                                     ((q.B + 1.0L) / 255.0L));
            const double d = std::sqrt(
                static_cast<double>(static_cast<Extended>(u) * u + static_cast<Extended>(v) * v));
            if (d > 0) {
                u = static_cast<double>(u / static_cast<Extended>(d) * strengthX * (w / 512.0L));
                v = static_cast<double>(v / static_cast<Extended>(d) * strengthY * (h / 512.0L));
            }
            const Vector2 turned = RotateVector(u, v, theta);
            int64_t nx = int64_t{Round(turned.x)} + x;
            int64_t ny = int64_t{Round(turned.y)} + y;
            if (nx < 1) nx = 1;
            if (nx > w - 2) nx = w - 2;
            if (ny < 1) ny = 1;
            if (ny > h - 2) ny = h - 2;
            SetPixel(dst, x, y,
                     GetPixel(src, static_cast<int32_t>(nx), static_cast<int32_t>(ny), Wrap::On),
                     Wrap::Off);
        }
        ctx.SetPercent(y, h);
        if (ctx.Aborted()) return;
        ctx.ProcessPendingEvents();
    }
}

void PlaceCraters(const RenderParams& params, FloatImage& image, RenderContext& ctx) {
    const int32_t m = IntMax(image.Width, image.Height);
    double scale = static_cast<double>(params.CraterBasicRadius / 10.0L / 8.0L + 1.2L);
    if (scale > 1.9) scale = 1.9;
    // A strongly negative radius makes the scale negative; the polar image is then empty.
    const int32_t side = std::max(0, Round(static_cast<Extended>(m) * scale));
    std::optional<FloatImage> work = NewImage(side, side);
    if (!work) {
        ctx.failure = "not enough memory for the crater work image";
        return;
    }

    std::vector<FloatImage> stamps;
    stamps.reserve(kStampCount);
    const double warp = static_cast<double>(params.CraterWarp / 10.0L);
    const double noise = static_cast<double>(params.CraterNoise / 100.0L);
    for (int32_t k = 1; k <= kStampCount; ++k) {
        std::optional<FloatImage> stamp = NewImage(image.Width / 4, image.Height / 4);
        if (!stamp) {
            ctx.failure = "not enough memory for the crater stamps";
            return;
        }
        stamps.push_back(std::move(*stamp));
        const double sizeFraction = CurveIn(0.1, 0.5, 1.0, kStampCount, k, 2.0);
        if (!BuildCraterStamp(stamps.back(), sizeFraction, warp, noise, ctx)) return;
        if (ctx.Aborted()) return;
        // After the last stamp an abort lets placement run its first step of each phase.
        if (ctx.StepDone(k, kStampCount) && k < kStampCount) return;
    }

    const int32_t rows = Round(static_cast<Extended>(image.Height) * scale / 2);
    // Without room at the pole (m div 2 = 0) no attempt could ever fit, and an empty stamp
    // would stamp nothing: such layers get no craters.
    const bool canPlace = m / 2 > 0 && stamps.front().PixelCount() > 0 && work->PixelCount() > 0;
    for (const bool north : {true, false}) {
        const std::string name = north ? "北半球" : "南半球";
        FillImage(*work, kOpaqueBlack);
        if (canPlace) ScatterCraters(params, stamps, *work, m, ctx);
        ctx.ReportProgress(*work, "地表ハイトマップ・" + name + "クレーター配置終了");
        ScaleColor(*work, static_cast<double>(params.CraterHeight / 100.0L));
        ProjectHemisphere(*work, image, north, rows, ctx);
        ctx.ReportProgress(image, "地表ハイトマップ：" + name + "クレーター展開終了");
        if (ctx.Aborted()) break;
    }
    NormalizeImage(image);
}

}  // namespace globeforge
