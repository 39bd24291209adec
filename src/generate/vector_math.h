// glibc's vector math library: log, exp, sin and cos of two (SSE2), four (AVX2) or eight
// (AVX-512) doubles at once, each within 4 ulp. GLOBEFORGE_VECTOR_MATH is defined where the
// library is there.
#pragma once

#if defined(__x86_64__) && defined(__GLIBC__)
#include <immintrin.h>
#define GLOBEFORGE_VECTOR_MATH 1

extern "C" {
__m128d _ZGVbN2v_log(__m128d);
__m128d _ZGVbN2v_exp(__m128d);
__m128d _ZGVbN2v_sin(__m128d);
__m128d _ZGVbN2v_cos(__m128d);
__attribute__((target("avx2"))) __m256d _ZGVdN4v_log(__m256d);
__attribute__((target("avx2"))) __m256d _ZGVdN4v_exp(__m256d);
__attribute__((target("avx2"))) __m256d _ZGVdN4v_sin(__m256d);
__attribute__((target("avx2"))) __m256d _ZGVdN4v_cos(__m256d);
__attribute__((target("avx512f"))) __m512d _ZGVeN8v_log(__m512d);
__attribute__((target("avx512f"))) __m512d _ZGVeN8v_exp(__m512d);
__attribute__((target("avx512f"))) __m512d _ZGVeN8v_sin(__m512d);
__attribute__((target("avx512f"))) __m512d _ZGVeN8v_cos(__m512d);
}
#endif
