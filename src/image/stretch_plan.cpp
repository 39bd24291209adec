#include "image/stretch_plan.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <type_traits>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "exact/decided.h"

namespace globeforge {

namespace {

bool IsPositiveZero(float v) {
    return std::bit_cast<uint32_t>(v) == 0u;
}

bool SameBits(float a, float b) {
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}

// A channel the one-channel layouts may carry in A: the blend weights by it, so it must be
// a real non-negative number for the other channels' terms to be exactly +0.
bool UsableAlpha(float a) {
    return std::isfinite(a) && a >= 0.0f;
}

int64_t FloorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// The destination coordinate the blend writes for position v of an axis n long, or -1 when
// the write is dropped: the conversion to int32 and the wrap rule of BlendPixelAt.
int32_t DestinationCoordinate(int64_t v, int32_t n, Wrap wrap) {
    const int32_t c = static_cast<int32_t>(v);
    if (c >= 0 && c < n) return c;
    if (wrap == Wrap::Off) return -1;
    return WrapCoordinate(c, n);
}

// The (value, alpha) pair of a pixel whose other channels are known: LerpPixel restricted
// to one colour channel and A, step for step.
struct ValueAlpha {
    float v;
    float a;
};

inline ValueAlpha LerpValueAlpha(ValueAlpha a, ValueAlpha b, double t) {
    if (a.a == 0.0f) a.v = b.v;
    if (b.a == 0.0f) b.v = a.v;
    const Extended te = t;
    const Extended ue = 1.0L - te;
    return {static_cast<float>(te * a.v + ue * b.v), static_cast<float>(te * a.a + ue * b.a)};
}

// d + a v / 255 (Add) or d - a v / 255 (Sub) as BlendPixel rounds it, when double arithmetic
// decides it. The product a v is exact in double (two 24-bit significands); the quotient by
// the double reciprocal 1/255 is within 2^-52 of a v / 255, the extended quotient within
// 2^-64, and the sums round at 2^-53 and 2^-64 of |d| + |q|: the extended result lies within
// 2^-51 (|d| + |q|) of the double one, and slack is 2^-49 of it. An undecided case (about
// one in 2^24) or a non-finite one goes to the extended steps.
template <BlendMode M>
inline float AddScaled(float d, float v, float a) {
    static_assert(M == BlendMode::Add || M == BlendMode::Sub);
    const double q = static_cast<double>(a) * v * (1.0 / 255.0);
    const double s = M == BlendMode::Add ? d + q : d - q;
    float out;
    if (Decided(s, (std::fabs(d) + std::fabs(q)) * 0x1p-49, out)) return out;
    const Extended term = static_cast<Extended>(a) * v / 255.0L;
    return static_cast<float>(M == BlendMode::Add ? d + term : d - term);
}

// LerpValueAlpha of two pixels whose value is their alpha.
inline ValueAlpha LerpSame(float a, float b, double t) {
    if (a == 0.0f || b == 0.0f) return LerpValueAlpha({a, a}, {b, b}, t);
    const Extended te = t;
    const Extended ue = 1.0L - te;
    const float v = static_cast<float>(te * a + ue * b);
    return {v, v};
}

template <SourceLayout L>
inline float ValueOf(const FloatPixel& p) {
    if constexpr (L == SourceLayout::OnlyG) return p.G;
    if constexpr (L == SourceLayout::OnlyB) return p.B;
    return p.R;
}

template <SourceLayout L>
inline float& ValueOf(FloatPixel& p) {
    if constexpr (L == SourceLayout::OnlyG) return p.G;
    if constexpr (L == SourceLayout::OnlyB) return p.B;
    return p.R;
}

// The blend of a source (v, a) laid out as L onto d. For Gray every colour channel of the
// source is v; for OnlyX the other two are +0, which leaves them as BlendPixel does:
// d + (a * +0 / 255) and d + (+0) are d with a -0 turned into +0, d - (+0) is d itself.
// AddDirect and SubDirect add two floats: their exact sum needs at most 64 bits unless one
// is below 2^-38 of the other, so rounding it to extended and then to float gives the
// float sum, and the float arithmetic here is BlendPixel's bit for bit.
template <BlendMode M, SourceLayout L>
inline void BlendInto(FloatPixel& d, float v, float a) {
    if constexpr (L == SourceLayout::General) {
        static_assert(L != SourceLayout::General, "general pixels blend with BlendPixel");
    } else if constexpr (M == BlendMode::Norm) {
        FloatPixel s{0.0f, 0.0f, 0.0f, a};
        if constexpr (L == SourceLayout::Gray) {
            s.R = s.G = s.B = v;
        } else {
            ValueOf<L>(s) = v;
        }
        d = BlendPixel(d, s, BlendMode::Norm);
    } else if constexpr (L == SourceLayout::Gray) {
        if constexpr (M == BlendMode::Add || M == BlendMode::Sub) {
            d.R = AddScaled<M>(d.R, v, a);
            d.G = AddScaled<M>(d.G, v, a);
            d.B = AddScaled<M>(d.B, v, a);
        } else if constexpr (M == BlendMode::AddDirect) {
            d.R = d.R + v;
            d.G = d.G + v;
            d.B = d.B + v;
        } else {
            d.R = d.R - v;
            d.G = d.G - v;
            d.B = d.B - v;
        }
        d.A = a;
    } else {
        float& c = ValueOf<L>(d);
        if constexpr (M == BlendMode::Add) {
            const float others = 0.0f;
            c = AddScaled<M>(c, v, a);
            if constexpr (L != SourceLayout::OnlyR) d.R = d.R + others;
            if constexpr (L != SourceLayout::OnlyG) d.G = d.G + others;
            if constexpr (L != SourceLayout::OnlyB) d.B = d.B + others;
        } else if constexpr (M == BlendMode::Sub) {
            c = AddScaled<M>(c, v, a);
        } else if constexpr (M == BlendMode::AddDirect) {
            const float others = 0.0f;
            c = c + v;
            if constexpr (L != SourceLayout::OnlyR) d.R = d.R + others;
            if constexpr (L != SourceLayout::OnlyG) d.G = d.G + others;
            if constexpr (L != SourceLayout::OnlyB) d.B = d.B + others;
        } else {
            c = c - v;
        }
        d.A = a;
    }
}

// The same blend kept to the value channel of a one-channel layout, for a destination of
// which only that channel is held (its other channels stay +0 under these modes, and its A
// is not kept): the channel's steps above, unchanged.
template <BlendMode M, SourceLayout L>
inline void BlendInto(float& c, float v, float a) {
    static_assert(L != SourceLayout::General && L != SourceLayout::Gray && M != BlendMode::Norm,
                  "a value plane holds one channel and no alpha");
    if constexpr (M == BlendMode::Add || M == BlendMode::Sub) {
        c = AddScaled<M>(c, v, a);
    } else if constexpr (M == BlendMode::AddDirect) {
        c = c + v;
    } else {
        c = c - v;
    }
}

// The same for a gray destination held as value and alpha planes: the gray blend's steps
// for one channel, and A as it sets it.
template <BlendMode M, SourceLayout L>
inline void BlendInto(GrayPlanes::Ref d, float v, float a) {
    static_assert(L == SourceLayout::Gray && M != BlendMode::Norm,
                  "gray planes take gray sources and no Norm");
    if constexpr (M == BlendMode::Add || M == BlendMode::Sub) {
        d.v = AddScaled<M>(d.v, v, a);
    } else if constexpr (M == BlendMode::AddDirect) {
        d.v = d.v + v;
    } else {
        d.v = d.v - v;
    }
    d.a = a;
}

#ifdef __SSE2__
// AddScaled of four lanes d and v (a = v): the same double steps and slack in two lanes at a
// time; a lane they do not decide takes AddScaled's extended steps.
template <BlendMode M>
__attribute__((always_inline)) inline __m128 AddScaled4(__m128 d, __m128 v) {
    const __m128d k = _mm_set1_pd(1.0 / 255.0);
    const __m128d sign = _mm_set1_pd(-0.0);
    const __m128d slackScale = _mm_set1_pd(0x1p-49);
    __m128d sum[2], slack[2];
    for (int h = 0; h < 2; ++h) {
        const __m128d dd = _mm_cvtps_pd(h == 0 ? d : _mm_movehl_ps(d, d));
        const __m128d vd = _mm_cvtps_pd(h == 0 ? v : _mm_movehl_ps(v, v));
        const __m128d q = _mm_mul_pd(_mm_mul_pd(vd, vd), k);
        sum[h] = M == BlendMode::Add ? _mm_add_pd(dd, q) : _mm_sub_pd(dd, q);
        slack[h] =
            _mm_mul_pd(_mm_add_pd(_mm_andnot_pd(sign, dd), _mm_andnot_pd(sign, q)), slackScale);
    }
    int decided;
    const __m128 lo = Decided4(sum[0], slack[0], sum[1], slack[1], decided);
    if (decided == 0xf) return lo;
    float out[4], dv[4], vv[4];
    _mm_storeu_ps(out, lo);
    _mm_storeu_ps(dv, d);
    _mm_storeu_ps(vv, v);
    for (int i = 0; i < 4; ++i) {
        if (((decided >> i) & 1) == 0) out[i] = AddScaled<M>(dv[i], vv[i], vv[i]);
    }
    return _mm_loadu_ps(out);
}

// BlendInto<M, L>(d[i], v[i], v[i]) for four neighbouring pixels, with no v zero (so every
// blend happens): the pixels transposed into channel lanes, each channel's float steps as
// BlendInto takes them, and back. The Norm mode takes BlendInto pixel by pixel.
template <BlendMode M, SourceLayout L>
__attribute__((always_inline)) inline void BlendInto4(FloatPixel* d, __m128 v) {
    if constexpr (M == BlendMode::Norm || L == SourceLayout::General) {
        float vs[4];
        _mm_storeu_ps(vs, v);
        for (int i = 0; i < 4; ++i) BlendInto<M, L>(d[i], vs[i], vs[i]);
    } else {
        float* f = &d[0].R;
        __m128 r = _mm_loadu_ps(f), g = _mm_loadu_ps(f + 4), b = _mm_loadu_ps(f + 8),
               a = _mm_loadu_ps(f + 12);
        _MM_TRANSPOSE4_PS(r, g, b, a);
        const auto blend = [&](__m128& c, bool chosen) {
            if (chosen) {
                if constexpr (M == BlendMode::AddDirect) {
                    c = _mm_add_ps(c, v);
                } else if constexpr (M == BlendMode::SubDirect) {
                    c = _mm_sub_ps(c, v);
                } else {
                    c = AddScaled4<M>(c, v);
                }
            } else if constexpr (M == BlendMode::Add || M == BlendMode::AddDirect) {
                c = _mm_add_ps(c, _mm_setzero_ps());  // a -0 becomes +0, as d + (+0) does
            }
        };
        blend(r, L == SourceLayout::Gray || L == SourceLayout::OnlyR);
        blend(g, L == SourceLayout::Gray || L == SourceLayout::OnlyG);
        blend(b, L == SourceLayout::Gray || L == SourceLayout::OnlyB);
        a = v;
        _MM_TRANSPOSE4_PS(r, g, b, a);
        _mm_storeu_ps(f, r);
        _mm_storeu_ps(f + 4, g);
        _mm_storeu_ps(f + 8, b);
        _mm_storeu_ps(f + 12, a);
    }
}
#endif

#ifdef __SSE2__
// BlendInto<M, L>(d[i], v[i], v[i]) for four neighbouring values of a value plane.
template <BlendMode M, SourceLayout L>
__attribute__((always_inline)) inline void BlendInto4(float* d, __m128 v) {
    const __m128 c = _mm_loadu_ps(d);
    if constexpr (M == BlendMode::AddDirect) {
        _mm_storeu_ps(d, _mm_add_ps(c, v));
    } else if constexpr (M == BlendMode::SubDirect) {
        _mm_storeu_ps(d, _mm_sub_ps(c, v));
    } else {
        _mm_storeu_ps(d, AddScaled4<M>(c, v));
    }
}
#endif

#ifdef __SSE2__
// BlendInto<M, L>(d[i], v[i], v[i]) for four neighbouring pixels of gray planes.
template <BlendMode M, SourceLayout L>
__attribute__((always_inline)) inline void BlendInto4(GrayPlanes::RowRef d, __m128 v) {
    BlendInto4<M, SourceLayout::OnlyR>(d.v, v);
    _mm_storeu_ps(d.a, v);
}
#endif

// BlendPixel with a fixed mode; the direct modes in float as above.
template <BlendMode M>
inline void BlendGeneral(FloatPixel& d, const FloatPixel& s) {
    if constexpr (M == BlendMode::AddDirect) {
        d = {d.R + s.R, d.G + s.G, d.B + s.B, s.A};
    } else if constexpr (M == BlendMode::SubDirect) {
        d = {d.R - s.R, d.G - s.G, d.B - s.B, s.A};
    } else {
        d = BlendPixel(d, s, M);
    }
}

}  // namespace

uint32_t SourceLayoutsOf(const FloatPixel* pixels, size_t count) {
    const FloatPixel* end = pixels + count;
    // One tight loop per candidate, each stopping at the first pixel that rules it out: a
    // gray brush fails the one-channel tests within its first row of the disc.
    const auto all = [&](auto&& test) { return std::all_of(pixels, end, test); };
    const auto only = [](auto channel, auto other1, auto other2) {
        return [=](const FloatPixel& q) {
            return IsPositiveZero(q.*other1) && IsPositiveZero(q.*other2) &&
                   SameBits(q.A, q.*channel) && UsableAlpha(q.A);
        };
    };
    const auto bit = [](SourceLayout layout) { return 1u << static_cast<uint32_t>(layout); };
    uint32_t layouts = bit(SourceLayout::General);
    if (all(only(&FloatPixel::R, &FloatPixel::G, &FloatPixel::B)))
        layouts |= bit(SourceLayout::OnlyR);
    if (all(only(&FloatPixel::G, &FloatPixel::R, &FloatPixel::B)))
        layouts |= bit(SourceLayout::OnlyG);
    if (all(only(&FloatPixel::B, &FloatPixel::R, &FloatPixel::G)))
        layouts |= bit(SourceLayout::OnlyB);
    if (all([](const FloatPixel& q) { return SameBits(q.R, q.G) && SameBits(q.R, q.B); })) {
        layouts |= bit(SourceLayout::Gray);
    }
    return layouts;
}

SourceLayout PickSourceLayout(uint32_t layouts) {
    for (const SourceLayout layout :
         {SourceLayout::OnlyR, SourceLayout::OnlyG, SourceLayout::OnlyB, SourceLayout::Gray}) {
        if (layouts & (1u << static_cast<uint32_t>(layout))) return layout;
    }
    return SourceLayout::General;
}

SourceLayout FindSourceLayout(const FloatImage& image) {
    return PickSourceLayout(SourceLayoutsOf(image.Data(), image.PixelCount()));
}

StretchPlan::StretchPlan(int32_t srcWidth, int32_t srcHeight, SourceLayout layout,
                         const ImageRect& srcRect, int32_t dstWidth, int32_t dstHeight,
                         const ImageRect& dstRect, Wrap wrap, BlendMode mode,
                         StretchSampling sampling)
    : layout_(layout),
      srcWidth_(srcWidth),
      mode_(mode),
      sampling_(sampling),
      wrap_(wrap),
      dstWidth_(dstWidth),
      dstHeight_(dstHeight) {
    if (srcRect.W <= 0 || srcRect.H <= 0 || dstRect.W <= 0 || dstRect.H <= 0) return;
    if (srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0) return;
    const Extended stepX = static_cast<Extended>(srcRect.W) / dstRect.W;
    const Extended stepY = static_cast<Extended>(srcRect.H) / dstRect.H;
    const bool nearest = sampling == StretchSampling::Nearest;

    Extended sx = srcRect.X;
    for (int64_t j = 0; j < dstRect.W; ++j, sx += stepX) {
        const int32_t dst = DestinationCoordinate(int64_t{dstRect.X} + j, dstWidth, wrap);
        if (dst < 0) continue;
        if (nearest) {
            // A source position outside the source reads transparent black: no blend.
            const int32_t s = Round(sx);
            if (s < 0 || s >= srcWidth) continue;
            columns_.push_back({dst, s, s, 0.0, 1.0});
        } else {
            const BilinearTap tap = BilinearAxis(static_cast<double>(sx), srcWidth);
            columns_.push_back({dst, tap.i0, tap.i1, tap.frac, ExactRest(tap.frac)});
        }
    }
    if (columns_.empty()) return;

    rows_.reserve(static_cast<size_t>(dstRect.H));
    Extended sy = srcRect.Y;
    for (int64_t i = 0; i < dstRect.H; ++i, sy += stepY) {
        Row row{DestinationCoordinate(int64_t{dstRect.Y} + i, dstHeight, wrap), 0, 0, 0.0, 1.0};
        if (nearest) {
            const int32_t s = Round(sy);
            if (s < 0 || s >= srcHeight) row.dst = -1;
            row.src0 = row.src1 = s;
        } else {
            const BilinearTap tap = BilinearAxis(static_cast<double>(sy), srcHeight);
            row.src0 = tap.i0;
            row.src1 = tap.i1;
            row.frac = tap.frac;
            row.rest = ExactRest(tap.frac);
        }
        rows_.push_back(row);
    }
    firstRow_ = dstRect.Y;
    rowsRepeat_ = dstRect.H > srcRect.H;
    empty_ = false;
}

template <typename Fn>
void StretchPlan::ForEachRowInBand(int32_t y0, int32_t y1, Fn&& fn) const {
    const int64_t n = static_cast<int64_t>(rows_.size());
    const auto visit = [&](int64_t from, int64_t to) {
        for (int64_t i = std::max<int64_t>(from, 0); i < std::min(to, n); ++i) {
            const Row& row = rows_[static_cast<size_t>(i)];
            if (row.dst >= y0 && row.dst < y1) fn(row);
        }
    };
    if (firstRow_ + n - 1 > std::numeric_limits<int32_t>::max()) {
        visit(0, n);  // positions beyond int32 convert modulo 2^32: no simple pattern
        return;
    }
    if (wrap_ == Wrap::Off) {
        visit(y0 - firstRow_, y1 - firstRow_);
        return;
    }
    // Row i lands on (firstRow + i) mod H: the rows of the band come back every H rows.
    const int64_t h = dstHeight_;
    const int64_t base = y0 - firstRow_;
    const int64_t span = int64_t{y1} - y0;
    for (int64_t lo = base + (FloorDiv(-base - span, h) + 1) * h; lo < n; lo += h) {
        visit(lo, lo + span);
    }
}

namespace {

// The bilinear sample of four neighbours that are each their own alpha (v00 and v10 the
// upper row's left and right), blended into d. Where no neighbour is transparent, LerpPixel
// gives the channel and A from the same numbers by the same steps, so one lerp serves both.
template <BlendMode M, SourceLayout L, typename Row, typename Column, typename Out>
inline void BlendSameBilinear(Out&& d, float v00, float v10, float v01, float v11, const Row& row,
                              const Column& c) {
    // Four transparent neighbours give alpha 0, which the blend skips.
    if (v00 == 0.0f && v10 == 0.0f && v01 == 0.0f && v11 == 0.0f) return;
    // With no transparent neighbour every lerp is of positive values, mostly decided in
    // double; a lerp of positive values is positive.
    if (v00 > 0.0f && v10 > 0.0f && v01 > 0.0f && v11 > 0.0f) {
        float top, bottom, p;
        if (LerpDecided(v10, v00, c.frac, c.rest, top) &&
            LerpDecided(v11, v01, c.frac, c.rest, bottom) &&
            LerpDecided(bottom, top, row.frac, row.rest, p)) {
            BlendInto<M, L>(d, p, p);
            return;
        }
    }
    const ValueAlpha top = LerpSame(v10, v00, c.frac);
    const ValueAlpha bottom = LerpSame(v11, v01, c.frac);
    const ValueAlpha p = SameBits(top.v, top.a) && SameBits(bottom.v, bottom.a)
                             ? LerpSame(bottom.v, top.v, row.frac)
                             : LerpValueAlpha(bottom, top, row.frac);
    if (p.a == 0.0f) return;
    BlendInto<M, L>(d, p.v, p.a);
}

template <BlendMode M, SourceLayout L, StretchSampling S, typename Row, typename Column,
          typename Out>
void PaintRow(const FloatImage& src, Out out, const Row& row, std::span<const Column> columns) {
    if constexpr (S == StretchSampling::Nearest) {
        const FloatPixel* in = src.Row(row.src0);
        for (const Column& c : columns) {
            const FloatPixel& p = in[c.src0];
            if (p.A == 0.0f) continue;
            if constexpr (L == SourceLayout::General) {
                BlendGeneral<M>(out[c.dst], p);
            } else {
                BlendInto<M, L>(out[c.dst], ValueOf<L>(p), p.A);
            }
        }
    } else {
        const FloatPixel* in0 = src.Row(row.src0);
        const FloatPixel* in1 = src.Row(row.src1);
        for (const Column& c : columns) {
            if constexpr (L == SourceLayout::General) {
                const FloatPixel top = LerpPixel(in0[c.src1], in0[c.src0], c.frac);
                const FloatPixel bottom = LerpPixel(in1[c.src1], in1[c.src0], c.frac);
                const FloatPixel p = LerpPixel(bottom, top, row.frac);
                if (p.A == 0.0f) continue;
                BlendGeneral<M>(out[c.dst], p);
            } else if constexpr (L == SourceLayout::Gray) {
                const auto pick = [](const FloatPixel& q) { return ValueAlpha{q.R, q.A}; };
                const ValueAlpha top = LerpValueAlpha(pick(in0[c.src1]), pick(in0[c.src0]), c.frac);
                const ValueAlpha bottom =
                    LerpValueAlpha(pick(in1[c.src1]), pick(in1[c.src0]), c.frac);
                const ValueAlpha p = LerpValueAlpha(bottom, top, row.frac);
                if (p.a == 0.0f) continue;
                BlendInto<M, L>(out[c.dst], p.v, p.a);
            } else {
                BlendSameBilinear<M, L>(out[c.dst], ValueOf<L>(in0[c.src0]),
                                        ValueOf<L>(in0[c.src1]), ValueOf<L>(in1[c.src0]),
                                        ValueOf<L>(in1[c.src1]), row, c);
            }
        }
    }
}

// Whether four columns land on four neighbouring pixels, left to right (a wrapped stamp may
// bring a column back onto the row's start, or onto a pixel already blended).
template <typename Column>
bool Neighbouring(const Column* c) {
    return c[1].dst == c[0].dst + 1 && c[2].dst == c[0].dst + 2 && c[3].dst == c[0].dst + 3;
}

// A plane of values that are their own alpha, width floats per row.
struct ValuePlane {
    const float* data;
    int32_t width;
};

template <BlendMode M, SourceLayout L, StretchSampling S, typename Row, typename Column,
          typename Out>
void PaintRow(const ValuePlane& src, Out out, const Row& row, std::span<const Column> columns) {
    if constexpr (S == StretchSampling::Nearest) {
        const float* in = src.data + static_cast<size_t>(row.src0) * src.width;
        size_t j = 0;
#ifdef __SSE2__
        // Four columns at a time where all four are blended into neighbouring pixels.
        for (; j + 4 <= columns.size(); j += 4) {
            const Column* c = columns.data() + j;
            const __m128 v = _mm_set_ps(in[c[3].src0], in[c[2].src0], in[c[1].src0], in[c[0].src0]);
            const int live = _mm_movemask_ps(_mm_cmpneq_ps(v, _mm_setzero_ps()));
            if (live == 0xf && Neighbouring(c)) {
                BlendInto4<M, L>(out + c[0].dst, v);
                continue;
            }
            for (int k = 0; k < 4; ++k) {
                const float vk = in[c[k].src0];
                if (vk != 0.0f) BlendInto<M, L>(out[c[k].dst], vk, vk);
            }
        }
#endif
        for (; j < columns.size(); ++j) {
            const Column& c = columns[j];
            const float v = in[c.src0];
            if (v == 0.0f) continue;
            BlendInto<M, L>(out[c.dst], v, v);
        }
    } else {
        const float* in0 = src.data + static_cast<size_t>(row.src0) * src.width;
        const float* in1 = src.data + static_cast<size_t>(row.src1) * src.width;
        size_t j = 0;
#ifdef __SSE2__
        // Four columns at a time: their samples where every lerp is decided, the others
        // and the blends one column at a time, in order (a wrapped stamp may reach one
        // pixel twice in a row).
        const __m128d rowT = _mm_set1_pd(row.frac);
        const __m128d rowU = _mm_set1_pd(row.rest);
        const __m128 zero = _mm_setzero_ps();
        for (; j + 4 <= columns.size(); j += 4) {
            const Column* c = columns.data() + j;
            const auto taps = [&](const float* in, auto tap) {
                return _mm_set_ps(in[c[3].*tap], in[c[2].*tap], in[c[1].*tap], in[c[0].*tap]);
            };
            const __m128 v00 = taps(in0, &Column::src0), v10 = taps(in0, &Column::src1);
            const __m128 v01 = taps(in1, &Column::src0), v11 = taps(in1, &Column::src1);
            // Four transparent neighbours: nothing to blend.
            const int live = _mm_movemask_ps(
                _mm_or_ps(_mm_or_ps(_mm_cmpneq_ps(v00, zero), _mm_cmpneq_ps(v10, zero)),
                          _mm_or_ps(_mm_cmpneq_ps(v01, zero), _mm_cmpneq_ps(v11, zero))));
            if (live == 0) continue;
            int decided = _mm_movemask_ps(
                _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(v00, zero), _mm_cmpgt_ps(v10, zero)),
                           _mm_and_ps(_mm_cmpgt_ps(v01, zero), _mm_cmpgt_ps(v11, zero))));
            float p[4];
            if (decided != 0) {
                const __m128d tLo = _mm_set_pd(c[1].frac, c[0].frac);
                const __m128d tHi = _mm_set_pd(c[3].frac, c[2].frac);
                const __m128d uLo = _mm_set_pd(c[1].rest, c[0].rest);
                const __m128d uHi = _mm_set_pd(c[3].rest, c[2].rest);
                int d1, d2, d3;
                const __m128 top = LerpDecided4(v10, v00, tLo, tHi, uLo, uHi, d1);
                const __m128 bottom = LerpDecided4(v11, v01, tLo, tHi, uLo, uHi, d2);
                _mm_storeu_ps(p, LerpDecided4(bottom, top, rowT, rowT, rowU, rowU, d3));
                decided &= d1 & d2 & d3;
            }
            // Four decided samples for four neighbouring pixels: one blend of them all.
            if (decided == 0xf && Neighbouring(c)) {
                BlendInto4<M, L>(out + c[0].dst, _mm_loadu_ps(p));
                continue;
            }
            for (int k = 0; k < 4; ++k) {
                if (((live >> k) & 1) == 0) continue;
                if ((decided >> k) & 1) {
                    BlendInto<M, L>(out[c[k].dst], p[k], p[k]);
                } else {
                    BlendSameBilinear<M, L>(out[c[k].dst], in0[c[k].src0], in0[c[k].src1],
                                            in1[c[k].src0], in1[c[k].src1], row, c[k]);
                }
            }
        }
#endif
        for (; j < columns.size(); ++j) {
            const Column& c = columns[j];
            BlendSameBilinear<M, L>(out[c.dst], in0[c.src0], in0[c.src1], in1[c.src0], in1[c.src1],
                                    row, c);
        }
    }
}

// The horizontal lerps of one source row of a plane for every column of a plan: each
// column's float where its two taps are positive and the lerp is decided, and what its taps
// are. Rows of a stretched stamp share source rows, so these are kept for the next row.
struct RowLerps {
    enum : uint8_t { kZeroTaps, kDecided, kOpen };
    const float* source = nullptr;
    const void* columns = nullptr;  // the first of the columns they were made for
    std::vector<float> value;
    std::vector<uint8_t> state;
};

// The states of four lanes from their masks (bit k for lane k): zero taps kZeroTaps, else
// decided kDecided, else kOpen. A decided lane never has zero taps, so each byte is
// 2 - 1, 2 - 0 or 0 - 0, without borrows.
inline void StoreStates(uint8_t* state, int zeros, int decided) {
    static constexpr uint32_t kLaneBytes[16] = {0x00000000, 0x00000001, 0x00000100, 0x00000101,
                                                0x00010000, 0x00010001, 0x00010100, 0x00010101,
                                                0x01000000, 0x01000001, 0x01000100, 0x01000101,
                                                0x01010000, 0x01010001, 0x01010100, 0x01010101};
    static_assert(RowLerps::kZeroTaps == 0 && RowLerps::kDecided == 1 && RowLerps::kOpen == 2);
    const uint32_t states = 2 * kLaneBytes[~zeros & 0xf] - kLaneBytes[decided & 0xf];
    std::memcpy(state, &states, sizeof states);
}

#ifdef __SSE2__
// The two taps of four columns of a row, and which lanes have both taps zero and which both
// positive (bit k for lane k).
struct Taps4 {
    __m128 v0, v1;
    int zeros, positive;
};
template <typename Column>
__attribute__((always_inline)) inline Taps4 TapsOf4(const float* in, const Column* c) {
    const __m128 zero = _mm_setzero_ps();
    Taps4 t;
    t.v0 = _mm_set_ps(in[c[3].src0], in[c[2].src0], in[c[1].src0], in[c[0].src0]);
    t.v1 = _mm_set_ps(in[c[3].src1], in[c[2].src1], in[c[1].src1], in[c[0].src1]);
    t.zeros = _mm_movemask_ps(_mm_and_ps(_mm_cmpeq_ps(t.v0, zero), _mm_cmpeq_ps(t.v1, zero)));
    t.positive = _mm_movemask_ps(_mm_and_ps(_mm_cmpgt_ps(t.v0, zero), _mm_cmpgt_ps(t.v1, zero)));
    return t;
}
#endif

#if defined(__x86_64__)
// FillRowLerps's four-column steps with the lerps' double arithmetic four lanes wide: the
// same products, sums and slack as LerpDecided4, so the same floats and states.
template <typename Column>
__attribute__((target("avx2"))) size_t FillRowLerpsAvx2(RowLerps& h, const float* in,
                                                        std::span<const Column> columns) {
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d scale = _mm256_set1_pd(0x1p-49);
    const __m128i exponent = _mm_set1_epi32(0x7f800000);
    size_t j = 0;
    for (; j + 4 <= columns.size(); j += 4) {
        const Column* c = columns.data() + j;
        const Taps4 taps = TapsOf4(in, c);
        int decided = taps.positive;
        if (decided != 0) {
            const __m256d t = _mm256_set_pd(c[3].frac, c[2].frac, c[1].frac, c[0].frac);
            const __m256d u = _mm256_set_pd(c[3].rest, c[2].rest, c[1].rest, c[0].rest);
            const __m256d p1 = _mm256_mul_pd(t, _mm256_cvtps_pd(taps.v1));
            const __m256d p2 = _mm256_mul_pd(u, _mm256_cvtps_pd(taps.v0));
            const __m256d sum = _mm256_add_pd(p1, p2);
            const __m256d slack = _mm256_mul_pd(
                _mm256_add_pd(_mm256_andnot_pd(sign, p1), _mm256_andnot_pd(sign, p2)), scale);
            const __m128 lo = _mm256_cvtpd_ps(_mm256_sub_pd(sum, slack));
            const __m128 hi = _mm256_cvtpd_ps(_mm256_add_pd(sum, slack));
            const __m128i bits = _mm_castps_si128(lo);
            const __m128i nonFinite = _mm_cmpeq_epi32(_mm_and_si128(bits, exponent), exponent);
            const __m128i same = _mm_cmpeq_epi32(bits, _mm_castps_si128(hi));
            _mm_storeu_ps(h.value.data() + j, lo);
            decided &= _mm_movemask_ps(_mm_castsi128_ps(_mm_andnot_si128(nonFinite, same)));
        }
        StoreStates(h.state.data() + j, taps.zeros, decided);
    }
    return j;
}
#endif

template <typename Column>
void FillRowLerps(RowLerps& h, const float* in, std::span<const Column> columns) {
    h.source = in;
    h.columns = columns.data();
    h.value.resize(columns.size());
    h.state.resize(columns.size());
    size_t j = 0;
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) j = FillRowLerpsAvx2(h, in, columns);
#endif
#ifdef __SSE2__
    for (; j + 4 <= columns.size(); j += 4) {
        const Column* c = columns.data() + j;
        const Taps4 taps = TapsOf4(in, c);
        int decided = taps.positive;
        if (decided != 0) {
            int d;
            const __m128 lerps =
                LerpDecided4(taps.v1, taps.v0, _mm_set_pd(c[1].frac, c[0].frac),
                             _mm_set_pd(c[3].frac, c[2].frac), _mm_set_pd(c[1].rest, c[0].rest),
                             _mm_set_pd(c[3].rest, c[2].rest), d);
            _mm_storeu_ps(h.value.data() + j, lerps);
            decided &= d;
        }
        StoreStates(h.state.data() + j, taps.zeros, decided);
    }
#endif
    for (; j < columns.size(); ++j) {
        const Column& c = columns[j];
        const float v0 = in[c.src0], v1 = in[c.src1];
        if (v0 == 0.0f && v1 == 0.0f) {
            h.state[j] = RowLerps::kZeroTaps;
        } else if (v0 > 0.0f && v1 > 0.0f && LerpDecided(v1, v0, c.frac, c.rest, h.value[j])) {
            h.state[j] = RowLerps::kDecided;
        } else {
            h.state[j] = RowLerps::kOpen;
        }
    }
}

// The row lerps of the last two source rows a band's rows read.
struct RowLerpCache {
    RowLerps slots[2];
    int last = 0;
    void Forget() { slots[0].source = slots[1].source = nullptr; }
    template <typename Column>
    const RowLerps& Get(const float* in, std::span<const Column> columns) {
        for (int k = 0; k < 2; ++k) {
            if (slots[k].source == in && slots[k].columns == columns.data() &&
                slots[k].value.size() == columns.size()) {
                last = k;
                return slots[k];
            }
        }
        last ^= 1;
        FillRowLerps(slots[last], in, columns);
        return slots[last];
    }
};

// A bilinear row from a plane: the vertical lerp of the two source rows' kept horizontal
// lerps where both are decided, the whole sample from the taps elsewhere.
template <BlendMode M, SourceLayout L, typename Row, typename Column, typename Out>
void PaintRowLerps(const ValuePlane& src, Out out, const Row& row, std::span<const Column> columns,
                   RowLerpCache& cache) {
    const float* in0 = src.data + static_cast<size_t>(row.src0) * src.width;
    const float* in1 = src.data + static_cast<size_t>(row.src1) * src.width;
    // Getting the second row never evicts the first.
    const RowLerps& upper = cache.Get(in0, columns);
    const RowLerps& bottom = cache.Get(in1, columns);
    const auto one = [&](size_t j) {
        const Column& c = columns[j];
        const uint8_t a = upper.state[j], b = bottom.state[j];
        if (a == RowLerps::kZeroTaps && b == RowLerps::kZeroTaps) return;
        float p;
        if (a == RowLerps::kDecided && b == RowLerps::kDecided &&
            LerpDecided(bottom.value[j], upper.value[j], row.frac, row.rest, p)) {
            BlendInto<M, L>(out[c.dst], p, p);
            return;
        }
        BlendSameBilinear<M, L>(out[c.dst], in0[c.src0], in0[c.src1], in1[c.src0], in1[c.src1], row,
                                c);
    };
    size_t j = 0;
#ifdef __SSE2__
    // Four columns at a time where all four are decided and land on neighbouring pixels.
    const __m128d rowT = _mm_set1_pd(row.frac);
    const __m128d rowU = _mm_set1_pd(row.rest);
    for (; j + 4 <= columns.size(); j += 4) {
        uint32_t a, b;
        std::memcpy(&a, upper.state.data() + j, 4);
        std::memcpy(&b, bottom.state.data() + j, 4);
        if ((a | b) == 0) continue;  // every tap zero: nothing to blend
        const Column* c = columns.data() + j;
        if (a == 0x01010101u && b == 0x01010101u && Neighbouring(c)) {
            int d;
            const __m128 p =
                LerpDecided4(_mm_loadu_ps(bottom.value.data() + j),
                             _mm_loadu_ps(upper.value.data() + j), rowT, rowT, rowU, rowU, d);
            if (d == 0xf) {
                BlendInto4<M, L>(out + c[0].dst, p);
                continue;
            }
        }
        for (size_t k = j; k < j + 4; ++k) one(k);
    }
#endif
    for (; j < columns.size(); ++j) one(j);
}

}  // namespace

void StretchPlan::PaintBand(const FloatImage& src, FloatImage& dst, int32_t y0, int32_t y1) const {
    Paint(src, dst, y0, y1);
}

void StretchPlan::PaintBand(const float* plane, FloatImage& dst, int32_t y0, int32_t y1) const {
    Paint(ValuePlane{plane, srcWidth_}, dst, y0, y1);
}

void StretchPlan::PaintBand(const float* plane, const ChannelPlane& dst, int32_t y0,
                            int32_t y1) const {
    Paint(ValuePlane{plane, srcWidth_}, dst, y0, y1);
}

void StretchPlan::PaintBand(const float* plane, const ChannelPlane& dst, int32_t y0, int32_t y1,
                            int32_t x0, int32_t x1) const {
    Paint(ValuePlane{plane, srcWidth_}, dst, y0, y1, x0, x1);
}

void StretchPlan::PaintBand(const float* plane, const GrayPlanes& dst, int32_t y0,
                            int32_t y1) const {
    Paint(ValuePlane{plane, srcWidth_}, dst, y0, y1);
}

void StretchPlan::PaintBand(const FloatImage& src, const GrayPlanes& dst, int32_t y0,
                            int32_t y1) const {
    Paint(src, dst, y0, y1);
}

template <typename Source, typename Dest>
void StretchPlan::Paint(const Source& src, Dest& dst, int32_t y0, int32_t y1, int32_t x0,
                        int32_t x1) const {
    if (empty_) return;
    constexpr bool kValueOut = std::is_same_v<Dest, const ChannelPlane>;
    constexpr bool kGrayOut = std::is_same_v<Dest, const GrayPlanes>;
    // The runs of columns that land in the window, in plan order: each pixel there meets
    // the blends it meets in a whole row, in the same order.
    thread_local std::vector<std::span<const Column>> windowRuns;
    const std::span<const Column> all(columns_);
    std::span<const std::span<const Column>> runs(&all, 1);
    if (x0 > 0 || x1 < dstWidth_) {
        windowRuns.clear();
        for (size_t j = 0; j < columns_.size();) {
            const auto in = [&](size_t k) { return columns_[k].dst >= x0 && columns_[k].dst < x1; };
            if (!in(j)) {
                ++j;
                continue;
            }
            size_t end = j + 1;
            while (end < columns_.size() && in(end)) ++end;
            windowRuns.push_back(all.subspan(j, end - j));
            j = end;
        }
        runs = windowRuns;
    }
    // One kernel per plan: the mode, layout and sampling are fixed for all its pixels.
    const auto run = [&]<BlendMode M, SourceLayout L, StretchSampling S>() {
        if constexpr (std::is_same_v<Source, ValuePlane> && L == SourceLayout::General) {
            return;  // a general source has no value plane
        } else if constexpr (kValueOut && (L == SourceLayout::Gray || M == BlendMode::Norm)) {
            return;  // a value plane holds one channel and no alpha
        } else if constexpr (kGrayOut && (L != SourceLayout::Gray || M == BlendMode::Norm)) {
            return;  // gray planes take gray sources, and Norm blends three channels apart
        } else {
            if constexpr (std::is_same_v<Source, ValuePlane> && S == StretchSampling::Bilinear) {
                if (!rowsRepeat_) {
                    ForEachRowInBand(y0, y1, [&](const Row& row) {
                        if (row.dst < 0) return;
                        for (const auto& columns : runs) {
                            PaintRow<M, L, S>(src, dst.Row(row.dst), row, columns);
                        }
                    });
                    return;
                }
                // Kept per thread so that its buffers are reused; valid for one plan.
                thread_local RowLerpCache cache;
                cache.Forget();
                ForEachRowInBand(y0, y1, [&](const Row& row) {
                    if (row.dst < 0) return;
                    for (const auto& columns : runs) {
                        PaintRowLerps<M, L>(src, dst.Row(row.dst), row, columns, cache);
                    }
                });
            } else {
                ForEachRowInBand(y0, y1, [&](const Row& row) {
                    if (row.dst < 0) return;
                    for (const auto& columns : runs) {
                        PaintRow<M, L, S>(src, dst.Row(row.dst), row, columns);
                    }
                });
            }
        }
    };
    const auto bySampling = [&]<BlendMode M, SourceLayout L>() {
        if (sampling_ == StretchSampling::Nearest) {
            run.template operator()<M, L, StretchSampling::Nearest>();
        } else {
            run.template operator()<M, L, StretchSampling::Bilinear>();
        }
    };
    const auto byLayout = [&]<BlendMode M>() {
        switch (layout_) {
            case SourceLayout::Gray:
                return bySampling.template operator()<M, SourceLayout::Gray>();
            case SourceLayout::OnlyR:
                return bySampling.template operator()<M, SourceLayout::OnlyR>();
            case SourceLayout::OnlyG:
                return bySampling.template operator()<M, SourceLayout::OnlyG>();
            case SourceLayout::OnlyB:
                return bySampling.template operator()<M, SourceLayout::OnlyB>();
            case SourceLayout::General:
                return bySampling.template operator()<M, SourceLayout::General>();
        }
    };
    switch (mode_) {
        case BlendMode::Add:
            return byLayout.template operator()<BlendMode::Add>();
        case BlendMode::Sub:
            return byLayout.template operator()<BlendMode::Sub>();
        case BlendMode::Norm:
            return byLayout.template operator()<BlendMode::Norm>();
        case BlendMode::AddDirect:
            return byLayout.template operator()<BlendMode::AddDirect>();
        case BlendMode::SubDirect:
            return byLayout.template operator()<BlendMode::SubDirect>();
    }
    // Any other mode value leaves every pixel as it was.
}

void StretchPlan::PaintBand(const ScalarImage& src, ScalarImage& dst, int32_t y0,
                            int32_t y1) const {
    if (empty_) return;
    ForEachRowInBand(y0, y1, [&](const Row& row) {
        if (row.dst < 0) return;
        const float* in0 = src.Row(row.src0);
        const float* in1 = src.Row(row.src1);
        float* out = dst.Row(row.dst);
        const Extended ty1 = row.frac;
        const Extended ty0 = 1.0L - ty1;
        for (const Column& c : columns_) {
            // LerpPixel of opaque gray pixels, then the AddDirect blend (see BlendInto).
            const Extended tx1 = c.frac;
            const Extended tx0 = 1.0L - tx1;
            const float top = static_cast<float>(tx1 * in0[c.src1] + tx0 * in0[c.src0]);
            const float bottom = static_cast<float>(tx1 * in1[c.src1] + tx0 * in1[c.src0]);
            out[c.dst] = out[c.dst] + static_cast<float>(ty1 * bottom + ty0 * top);
        }
    });
}

}  // namespace globeforge
