// The row painters of the stretch plans: one destination row of a blend, its columns in plan
// order, from a source image or from a plane of values that are their own alpha, with the
// pixel kernels of stretch_kernels.h. Four neighbouring columns go through the four-lane
// kernels where every lane's sample is decided; the others, and any column a wrapped stamp
// brings back onto a pixel already blended in the row, go one at a time, in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "exact/lerp.h"
#include "image/float_image.h"
#include "image/source_layout.h"
#include "image/stretch_kernels.h"
#include "image/stretch_row_lerps.h"
#include "image/stretch_taps.h"

namespace globeforge::stretch {

// A row from a source image: each sample as the stretch blends take it, then its blend.
template <BlendMode M, SourceLayout L, StretchSampling S, typename Out>
void PaintRow(const FloatImage& src, Out out, const StretchRow& row,
              std::span<const StretchColumn> columns) {
    if constexpr (S == StretchSampling::Nearest) {
        const FloatPixel* in = src.Row(row.src0);
        for (const StretchColumn& c : columns) {
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
        for (const StretchColumn& c : columns) {
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
inline bool Neighbouring(const StretchColumn* c) {
    return c[1].dst == c[0].dst + 1 && c[2].dst == c[0].dst + 2 && c[3].dst == c[0].dst + 3;
}

// A plane of values that are their own alpha, width floats per row.
struct ValuePlane {
    const float* data;
    int32_t width;
};

// A nearest row from a plane.
template <BlendMode M, SourceLayout L, typename Out>
void PaintPlaneRowNearest(const ValuePlane& src, Out out, const StretchRow& row,
                          std::span<const StretchColumn> columns) {
    const float* in = src.data + static_cast<size_t>(row.src0) * src.width;
    size_t j = 0;
#ifdef __SSE2__
    // Four columns at a time where all four are blended into neighbouring pixels.
    for (; j + 4 <= columns.size(); j += 4) {
        const StretchColumn* c = columns.data() + j;
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
        const StretchColumn& c = columns[j];
        const float v = in[c.src0];
        if (v == 0.0f) continue;
        BlendInto<M, L>(out[c.dst], v, v);
    }
}

// A bilinear row from a plane, each sample from its four taps.
template <BlendMode M, SourceLayout L, typename Out>
void PaintPlaneRowBilinear(const ValuePlane& src, Out out, const StretchRow& row,
                           std::span<const StretchColumn> columns) {
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
        const StretchColumn* c = columns.data() + j;
        const auto taps = [&](const float* in, auto tap) {
            return _mm_set_ps(in[c[3].*tap], in[c[2].*tap], in[c[1].*tap], in[c[0].*tap]);
        };
        const __m128 v00 = taps(in0, &StretchColumn::src0), v10 = taps(in0, &StretchColumn::src1);
        const __m128 v01 = taps(in1, &StretchColumn::src0), v11 = taps(in1, &StretchColumn::src1);
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
        const StretchColumn& c = columns[j];
        BlendSameBilinear<M, L>(out[c.dst], in0[c.src0], in0[c.src1], in1[c.src0], in1[c.src1], row,
                                c);
    }
}

template <BlendMode M, SourceLayout L, StretchSampling S, typename Out>
void PaintRow(const ValuePlane& src, Out out, const StretchRow& row,
              std::span<const StretchColumn> columns) {
    if constexpr (S == StretchSampling::Nearest) {
        PaintPlaneRowNearest<M, L>(src, out, row, columns);
    } else {
        PaintPlaneRowBilinear<M, L>(src, out, row, columns);
    }
}

// A bilinear row from a plane: the vertical lerp of the two source rows' kept horizontal
// lerps where both are decided, the whole sample from the taps elsewhere.
template <BlendMode M, SourceLayout L, typename Out>
void PaintRowLerps(const ValuePlane& src, Out out, const StretchRow& row,
                   std::span<const StretchColumn> columns, RowLerpCache& cache) {
    const float* in0 = src.data + static_cast<size_t>(row.src0) * src.width;
    const float* in1 = src.data + static_cast<size_t>(row.src1) * src.width;
    // Getting the second row never evicts the first.
    const RowLerps& upper = cache.Get(in0, columns);
    const RowLerps& bottom = cache.Get(in1, columns);
    const auto one = [&](size_t j) {
        const StretchColumn& c = columns[j];
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
        const StretchColumn* c = columns.data() + j;
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

}  // namespace globeforge::stretch
