// Extended precision: the 80-bit x87 format with GCC and Clang on x86-64. Values that the
// generators compute "in extended precision" use this type; pixel stores round once to float.
#pragma once

#include <cmath>
#include <cstdint>

namespace globeforge {

using Extended = long double;

// Round to nearest, halves to the even neighbour. Values beyond int32 saturate and NaN
// gives 0, so hostile parameters cannot cause an undefined conversion.
inline int32_t Round(Extended v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0L) return 2147483647;
    if (v <= -2147483648.0L) return static_cast<int32_t>(-2147483647 - 1);
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    // One store in the current rounding mode (nearest, halves to even), as nearbyint
    // rounds; rint followed by a C++ conversion would switch the FPU to truncation and
    // back around the store, which stalls the pipeline on every call.
    int32_t out;
    __asm__("fistpl %0" : "=m"(out) : "t"(v) : "st");
    return out;
#else
    return static_cast<int32_t>(std::rint(v));
#endif
}

}  // namespace globeforge
