// The horizontal lerps of the source rows a bilinear stretch from a value plane reads, kept
// per source row: the rows of a stamp stretched taller than its brush read each source row
// again, and the lerps of a row are the same for every destination row that reads it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "image/stretch_taps.h"

namespace globeforge::stretch {

// The horizontal lerps of one source row of a plane for every column of a plan: each
// column's float where its two taps are positive and the lerp is decided, and what its taps
// are. Rows of a stretched stamp share source rows, so these are kept for the next row.
struct RowLerps {
    enum : uint8_t { kZeroTaps, kDecided, kOpen };
    const float* source = nullptr;
    const StretchColumn* columns = nullptr;  // the first of the columns they were made for
    std::vector<float> value;
    std::vector<uint8_t> state;
};

// The row lerps of the last source rows a band's rows read: two rows, in each of the few
// ranges of columns a row may be painted in.
struct RowLerpCache {
    static constexpr int kSlots = 8;
    RowLerps slots[kSlots];
    int last = 0;     // the slot filled last
    int recent = -1;  // the slot got last
    void Forget() {
        for (RowLerps& slot : slots) slot.source = nullptr;
    }
    // The lerps of source row in for the columns, made unless one of the slots holds them.
    // Never evicts the lerps the call before gave.
    const RowLerps& Get(const float* in, std::span<const StretchColumn> columns);
};

}  // namespace globeforge::stretch
