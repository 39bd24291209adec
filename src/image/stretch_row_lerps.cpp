#include "image/stretch_row_lerps.h"

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "exact/lerp.h"

namespace globeforge::stretch {

namespace {

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
__attribute__((always_inline)) inline Taps4 TapsOf4(const float* in, const StretchColumn* c) {
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
// FillRowLerps's four-column steps with the lerps four lanes wide in AVX2: LerpDecided4Avx2
// takes the same products, sums and slack as LerpDecided4, so the same floats and states.
__attribute__((target("avx2"))) size_t FillRowLerpsAvx2(RowLerps& h, const float* in,
                                                        std::span<const StretchColumn> columns) {
    size_t j = 0;
    for (; j + 4 <= columns.size(); j += 4) {
        const StretchColumn* c = columns.data() + j;
        const Taps4 taps = TapsOf4(in, c);
        int decided = taps.positive;
        if (decided != 0) {
            const __m256d t = _mm256_set_pd(c[3].frac, c[2].frac, c[1].frac, c[0].frac);
            const __m256d u = _mm256_set_pd(c[3].rest, c[2].rest, c[1].rest, c[0].rest);
            int d;
            const __m128 lerps = LerpDecided4Avx2(taps.v1, taps.v0, t, u, d);
            _mm_storeu_ps(h.value.data() + j, lerps);
            decided &= d;
        }
        StoreStates(h.state.data() + j, taps.zeros, decided);
    }
    return j;
}
#endif

// Fills h with the lerps of source row in for the columns.
void FillRowLerps(RowLerps& h, const float* in, std::span<const StretchColumn> columns) {
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
        const StretchColumn* c = columns.data() + j;
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
        const StretchColumn& c = columns[j];
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

}  // namespace

const RowLerps& RowLerpCache::Get(const float* in, std::span<const StretchColumn> columns) {
    for (int k = 0; k < kSlots; ++k) {
        if (slots[k].source == in && slots[k].columns == columns.data() &&
            slots[k].value.size() == columns.size()) {
            recent = k;
            return slots[k];
        }
    }
    // The slots are filled in turn, passing over the one the last call gave.
    last = (last + 1) % kSlots;
    if (last == recent) last = (last + 1) % kSlots;
    recent = last;
    FillRowLerps(slots[last], in, columns);
    return slots[last];
}

}  // namespace globeforge::stretch
