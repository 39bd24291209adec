// The pixel kernels of the stretch plans: one pixel (or four neighbouring pixels) of a blend,
// with the blend mode and the source layout fixed at compile time. Each gives the pixels
// BlendPixel and LerpPixel give for such sources, bit for bit: the channels a layout leaves
// alone take the steps that leave them alone, and lerps and blend terms are decided in
// double where that gives the extended result and taken in extended elsewhere.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "exact/decide.h"
#include "exact/extended.h"
#include "exact/lerp.h"
#include "image/channel_planes.h"
#include "image/float_image.h"
#include "image/source_layout.h"
#include "image/stretch_taps.h"

namespace globeforge::stretch {

inline bool SameBits(float a, float b) {
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
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
    return {LerpExtended(a.v, b.v, t), LerpExtended(a.a, b.a, t)};
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
    const float v = LerpExtended(a, b, t);
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

// The bilinear sample of four neighbours that are each their own alpha (v00 and v10 the
// upper row's left and right), blended into d. Where no neighbour is transparent, LerpPixel
// gives the channel and A from the same numbers by the same steps, so one lerp serves both.
template <BlendMode M, SourceLayout L, typename Out>
inline void BlendSameBilinear(Out&& d, float v00, float v10, float v01, float v11,
                              const StretchRow& row, const StretchColumn& c) {
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

}  // namespace globeforge::stretch
