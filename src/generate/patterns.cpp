#include "generate/patterns.h"

#include <atomic>
#include <bit>
#include <cmath>
#include <optional>

#include "core/parallel.h"
#include "generate/brush_memo.h"
#include "generate/carving.h"
#include "generate/channel_ops.h"
#include "generate/curves.h"
#include "generate/disc_classes.h"
#include "generate/disc_tables.h"

namespace globeforge {

namespace {

using pattern_detail::BrushMemo;
using pattern_detail::Carving;
using pattern_detail::DiscClasses;
using pattern_detail::DiscKey;
using pattern_detail::ForBands;
using pattern_detail::kDistanceBand;
using pattern_detail::kParallelRadius;
using pattern_detail::SquareSums;
using pattern_detail::Table;

// A disc pixel's value in a plane of the layout (Gray takes R, which equals G and B).
float PlaneValue(SourceLayout layout, const FloatPixel& p) {
    return layout == SourceLayout::OnlyG ? p.G : layout == SourceLayout::OnlyB ? p.B : p.R;
}

// Whether the pixel's channels other than the plane's are all +0 (Gray has none other).
bool OthersZero(SourceLayout layout, const FloatPixel& p) {
    const auto zero = [](float v) { return std::bit_cast<uint32_t>(v) == 0; };
    return layout == SourceLayout::Gray || ((layout == SourceLayout::OnlyR || zero(p.R)) &&
                                            (layout == SourceLayout::OnlyG || zero(p.G)) &&
                                            (layout == SourceLayout::OnlyB || zero(p.B)));
}

// The pixel of the centred disc whose profile value is f.
FloatPixel DiscPixel(const DiscKey& key, float f) {
    const FloatPixel pixel{key.useR ? f : 0.0f, key.useG ? f : 0.0f, key.useB ? f : 0.0f, f};
    // A pixel with alpha 0 (on the rim) is skipped by the blend: it stays black.
    return pixel.A == 0.0f ? kOpaqueBlack : BlendPixel(kOpaqueBlack, pixel, BlendMode::Norm);
}

// The classes of the centred disc of radius Width div 2 whose value at distance d is the
// profile's float (profile.Floats for many distances), laid on opaque black with the Norm
// blend: every disc pixel is still opaque black when its class is blended, so the blend is
// computed once per class. The brushes of a pass mostly share one disc, so a redraw usually
// finds it in the memo; without one it is made in local.
template <typename Profile>
const DiscClasses<FloatPixel>& CentredDisc(const FloatImage& image, const DiscKey& key,
                                           RenderContext* ctx, BrushMemo* memo, Profile&& profile,
                                           std::optional<DiscClasses<FloatPixel>>& local) {
    if (memo && memo->key == key && memo->discFilled) return *memo->disc;
    auto& slot = memo ? memo->disc : local;
    if (memo && memo->key != key) {
        memo->key.reset();
        memo->layout.reset();
        memo->planeMade = false;
    }
    if (memo) memo->discFilled = false;
    // A disc of the last key keeps its storage for the new one: at 16K a disc's tables are
    // hundreds of MB, which a fresh allocation would fault in page by page on every redraw
    // whose profile differs.
    if (slot) {
        slot->Reset(image.Width, image.Height, image.Width / 2, image.Height / 2, image.Width / 2);
    } else {
        slot.emplace(image.Width, image.Height, image.Width / 2, image.Height / 2, image.Width / 2);
    }
    SquareSums localSums;
    Table<float> localValues;
    slot->Fill(
        ctx, memo ? memo->carving.sums : localSums, memo ? memo->carving.byN : localValues,
        [&](const double* d, float* out, size_t count) { profile.Floats(d, out, count); },
        [&](float f) { return DiscPixel(key, f); });
    if (memo) {
        memo->key = key;
        memo->discFilled = true;
    }
    return *slot;
}

// The layout of the plane a brush of these channels is carved in, if any: Gray for all
// three, the one channel's for one; none (General) for two or none.
SourceLayout PlaneLayoutPicked(const DiscKey& key) {
    const int picks = (key.useR ? 1 : 0) + (key.useG ? 1 : 0) + (key.useB ? 1 : 0);
    if (picks == 2 || picks == 0) return SourceLayout::General;
    return picks == 3 ? SourceLayout::Gray
           : key.useR ? SourceLayout::OnlyR
           : key.useG ? SourceLayout::OnlyG
                      : SourceLayout::OnlyB;
}

// For a carving in a plane, the centred disc's plane made straight from its values by
// squared distance, without its classes in full colour (which only the plane would read),
// as QuadrantFrom would make it: true when the memo then holds the key's plane and its
// layout. The layout test looks at the value of every listed squared distance the disc
// reaches, the classes' ones among them, so it may refuse a disc PlaneLayoutOf would
// accept (the caller then takes the classes' way), never the reverse.
template <typename Profile>
bool PlaneStraight(const FloatImage& image, const DiscKey& key, RenderContext& ctx, BrushMemo& memo,
                   const Profile& profile) {
    if (memo.key == key) {
        return memo.planeMade && memo.layout && *memo.layout != SourceLayout::General;
    }
    const SourceLayout layout = PlaneLayoutPicked(key);
    if (layout == SourceLayout::General) return false;
    memo.key.reset();
    memo.layout.reset();
    memo.planeMade = false;
    memo.discFilled = false;
    if (!memo.plane) memo.plane.emplace();
    DiscClasses<float>& plane = *memo.plane;
    const int32_t r = image.Width / 2;
    plane.Reset(image.Width, image.Height, r, image.Height / 2, r, true);
    const int64_t nEnd = plane.DistanceCount();
    SquareSums& sums = memo.carving.sums;
    Table<float>& byN = memo.carving.byN;
    sums.Reach(nEnd - 1);
    if (byN.size() < static_cast<size_t>(nEnd)) {
        pattern_detail::ResizeUnkept(byN, static_cast<size_t>(nEnd));
    }
    const bool large = r >= kParallelRadius;
    const auto listed = static_cast<int64_t>(sums.CountBelow(nEnd));
    std::atomic<bool> refused = false;
    // Each profile value goes into byN as its disc pixel's value in the plane.
    const auto value = [&](const double* d, float* out, size_t count) {
        profile.Floats(d, out, count);
        bool others = false;
        for (size_t i = 0; i < count; ++i) {
            const FloatPixel p = DiscPixel(key, out[i]);
            others |= !OthersZero(layout, p);
            out[i] = PlaneValue(layout, p);
        }
        if (others) refused.store(true, std::memory_order_relaxed);
    };
    ForBands(
        &ctx, listed, large,
        [&](int64_t i0, int64_t i1) {
            sums.Evaluate(static_cast<size_t>(i0), static_cast<size_t>(i1), byN.data(), value);
        },
        kDistanceBand);
    if (refused.load(std::memory_order_relaxed)) return false;
    ForBands(
        &ctx, plane.HandOutBlocks(), large,
        [&](int64_t k0, int64_t k1) { plane.HandOutQuadrant(byN.data(), k0, k1); }, 1);
    memo.key = key;
    memo.layout = layout;
    memo.planeMade = true;
    return true;
}

// Opaque black with the centred disc on it.
void PaintCentredDisc(FloatImage& image, const DiscClasses<FloatPixel>& disc, RenderContext* ctx) {
    ForBands(ctx, image.Height, image.Width / 2 >= kParallelRadius, [&](int64_t y0, int64_t y1) {
        std::fill(image.Row(static_cast<int32_t>(y0)), image.Row(static_cast<int32_t>(y1)),
                  kOpaqueBlack);
        disc.Paint(image.Data(), y0, y1, [](FloatPixel& p, const FloatPixel& v) { p = v; });
    });
}

// The layout of the plane a carving can work on alone, one float per pixel: Gray when all
// three channels are chosen (the disc's R, G and B are equal bit for bit, and carving and
// clipping treat them alike), or the one chosen channel's when the disc's other channels
// are +0 everywhere (so carving and clipping leave them +0). A then takes the carved value.
// General when there is none.
SourceLayout PlaneLayoutOf(bool useR, bool useG, bool useB, const DiscClasses<FloatPixel>& disc,
                           RenderContext* ctx) {
    if (useR && useG && useB) return SourceLayout::Gray;
    const auto others = [&](SourceLayout layout) {
        return disc.AllValues(ctx, [&](const FloatPixel& p) { return OthersZero(layout, p); });
    };
    if (useR && !useG && !useB && others(SourceLayout::OnlyR)) return SourceLayout::OnlyR;
    if (!useR && useG && !useB && others(SourceLayout::OnlyG)) return SourceLayout::OnlyG;
    if (!useR && !useG && useB && others(SourceLayout::OnlyB)) return SourceLayout::OnlyB;
    return SourceLayout::General;
}

// Carve with the memo's carving, its plane kept when the image is the deferred brush; or,
// without a memo, with a carving of its own.
void CarveWith(FloatImage& image, const DiscKey& key, int32_t count, double bias, Lcg32& rng,
               RenderContext* ctx, BrushMemo* memo, const DiscClasses<float>* base = nullptr,
               SourceLayout layout = SourceLayout::General) {
    if (!memo) {
        Carving local;
        pattern_detail::Carve(image, key.useR, key.useG, key.useB, count, bias, rng, ctx, local,
                              base, layout);
        return;
    }
    if (pattern_detail::Carve(image, key.useR, key.useG, key.useB, count, bias, rng, ctx,
                              memo->carving, base, layout, memo->deferred == &image)) {
        memo->pending = &image;
        memo->pendingLayout = layout;
    }
}

// The ring profile: five bands, each an S-curve from its inner to its outer value.
class RingCurve {
  public:
    RingCurve(int32_t r, double exponent)
        : b1_(r * 0.2L),
          b2_(r * 0.4L),
          b3_(r * 0.6L),
          b4_(r * 0.8L),
          bounds_{DoubleAbove(b1_), DoubleAbove(b2_), DoubleAbove(b3_), DoubleAbove(b4_)},
          bands_{FixedInOutCurve(255, 128, 0, static_cast<double>(b1_), exponent),
                 FixedInOutCurve(128, 192, static_cast<double>(b1_), static_cast<double>(b2_),
                                 exponent),
                 FixedInOutCurve(192, 64, static_cast<double>(b2_), static_cast<double>(b3_),
                                 exponent),
                 FixedInOutCurve(64, 128, static_cast<double>(b3_), static_cast<double>(b4_),
                                 exponent),
                 FixedInOutCurve(128, 0, static_cast<double>(b4_), r, exponent)} {}

    // The value at distance d rounded to float.
    float Float(double d) const { return CurveAt(d).Float(d); }

    // Float for count distances, each run of distances within one curve at once (the discs
    // ask in increasing order, so the runs are long).
    void Floats(const double* d, float* out, size_t count) const {
        for (size_t i = 0; i < count;) {
            const FixedCurve& curve = CurveAt(d[i]);
            size_t end = i + 1;
            while (end < count && &CurveAt(d[end]) == &curve) ++end;
            curve.Floats(d + i, out + i, end - i);
            i = end;
        }
    }

  private:
    // The smallest double not below b: a double d is below b exactly when it is below this,
    // so the bands are found in double compares instead of extended ones.
    static double DoubleAbove(Extended b) {
        const double d = static_cast<double>(b);
        return static_cast<Extended>(d) < b ? std::nextafter(d, HUGE_VAL) : d;
    }

    const FixedCurve& CurveAt(double d) const {
        // The band bounds are extended products; a distance that equals a bound exactly
        // belongs to the outer band.
        if (d < bounds_[0]) return bands_[0].CurveAt(d);
        if (d < bounds_[1]) return bands_[1].CurveAt(d);
        if (d < bounds_[2]) return bands_[2].CurveAt(d);
        if (d < bounds_[3]) return bands_[3].CurveAt(d);
        return bands_[4].CurveAt(d);
    }

    Extended b1_, b2_, b3_, b4_;
    double bounds_[4];
    FixedInOutCurve bands_[5];
};

uint64_t Bits(double v) {
    return std::bit_cast<uint64_t>(v);
}

// The centred disc, then the carving: in a plane of one value where the channels allow,
// else laid on the image and carved there. memo is null exactly when ctx is.
template <typename Profile>
void Pattern(FloatImage& image, const DiscKey& key, int32_t count, double bias, Lcg32& rng,
             RenderContext* ctx, BrushMemo* memo, const Profile& profile) {
    if (memo) {
        // The plane is about to be carved again: an image still waiting in it is written
        // first, unless it is the one being drawn over.
        if (memo->pending != &image) WritePending(*memo, *ctx);
        memo->pending = nullptr;
    }
    if (memo && count != 0 && PlaneStraight(image, key, *ctx, *memo, profile)) {
        CarveWith(image, key, count, bias, rng, ctx, memo, &*memo->plane, *memo->layout);
        return;
    }
    std::optional<DiscClasses<FloatPixel>> local;
    const DiscClasses<FloatPixel>& disc = CentredDisc(image, key, ctx, memo, profile, local);
    SourceLayout layout = SourceLayout::General;
    if (count != 0) {
        // The disc's channels are checked once per disc, not per redraw.
        std::optional<SourceLayout>* kept = memo ? &memo->layout : nullptr;
        if (kept && kept->has_value()) {
            layout = **kept;
        } else {
            layout = PlaneLayoutOf(key.useR, key.useG, key.useB, disc, ctx);
            if (kept) *kept = layout;
        }
    }
    if (layout == SourceLayout::General) {
        PaintCentredDisc(image, disc, ctx);
        CarveWith(image, key, count, bias, rng, ctx, memo);
        return;
    }
    std::optional<DiscClasses<float>> localPlane;
    std::optional<DiscClasses<float>>& plane = memo ? memo->plane : localPlane;
    bool localMade = false;
    bool& made = memo ? memo->planeMade : localMade;
    if (!made) {
        if (!plane) plane.emplace();
        plane->QuadrantFrom(disc, ctx,
                            [layout](const FloatPixel& v) { return PlaneValue(layout, v); });
        made = true;
    }
    CarveWith(image, key, count, bias, rng, ctx, memo, &*plane, layout);
}

// The dome's bias or the rings' exponent also shapes the carving.
void Shaped(PatternShape shape, FloatImage& image, bool useR, bool useG, bool useB, int32_t count,
            double shaping, Lcg32& rng, RenderContext* ctx, BrushMemo* memo) {
    const bool ring = shape == PatternShape::Ring;
    const DiscKey key{ring, Bits(shaping), image.Width, image.Height, useR, useG, useB};
    if (ring) {
        Pattern(image, key, count, shaping, rng, ctx, memo, RingCurve(image.Width / 2, shaping));
    } else {
        Pattern(image, key, count, shaping, rng, ctx, memo,
                BiasCurve(255, 0, 0, image.Width / 2, shaping));
    }
}

}  // namespace

SourceLayout PatternLayout(bool useR, bool useG, bool useB, int32_t count) {
    if (useR && useG && useB) return SourceLayout::Gray;
    if (count == 0) return SourceLayout::General;
    if (useR && !useG && !useB) return SourceLayout::OnlyR;
    if (!useR && useG && !useB) return SourceLayout::OnlyG;
    if (!useR && !useG && useB) return SourceLayout::OnlyB;
    return SourceLayout::General;
}

void CarveRandomDomes(FloatImage& image, bool useR, bool useG, bool useB, int32_t count,
                      double bias, Lcg32& rng) {
    Carving local;
    pattern_detail::Carve(image, useR, useG, useB, count, bias, rng, nullptr, local);
}

void CarveRandomDomes(FloatImage& image, bool useR, bool useG, bool useB, int32_t count,
                      double bias, BrushCache& cache, RenderContext& ctx) {
    pattern_detail::Carve(image, useR, useG, useB, count, bias, ctx.rng, &ctx,
                          cache.Memo().carving);
}

void DrawPattern(PatternShape shape, FloatImage& image, bool useR, bool useG, bool useB,
                 int32_t count, double shaping, Lcg32& rng) {
    Shaped(shape, image, useR, useG, useB, count, shaping, rng, nullptr, nullptr);
}

void DrawPattern(PatternShape shape, FloatImage& image, bool useR, bool useG, bool useB,
                 int32_t count, double shaping, BrushCache& cache, RenderContext& ctx) {
    Shaped(shape, image, useR, useG, useB, count, shaping, ctx.rng, &ctx, &cache.Memo());
}

void DrawPattern(PatternShape shape, FloatImage& image, bool useR, bool useG, bool useB,
                 int32_t count, double shaping, RenderContext& ctx) {
    BrushCache cache;
    DrawPattern(shape, image, useR, useG, useB, count, shaping, cache, ctx);
}

}  // namespace globeforge
