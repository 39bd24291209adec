// Where a planned stretch reads its source for one destination column or row: the positions
// StretchBlendNearest and StretchBlendBilinear reach, computed once per plan.
#pragma once

#include <cstdint>

namespace globeforge {

enum class StretchSampling : uint8_t { Nearest, Bilinear };

struct StretchColumn {
    int32_t dst;   // destination column after the wrap rule
    int32_t src0;  // source column (nearest) or left bilinear tap
    int32_t src1;  // right bilinear tap
    double frac;   // bilinear fraction toward src1
    double rest;   // 1 - frac where that is exact in double, else NaN
};

struct StretchRow {
    int32_t dst;  // destination row after the wrap rule, or -1 when dropped
    int32_t src0;
    int32_t src1;
    double frac;
    double rest;
};

}  // namespace globeforge
