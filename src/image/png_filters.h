// PNG's row filters for 8-bit colour (3 bytes a pixel), as libpng chooses and applies them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace globeforge::png_detail {

// libpng's adaptive filter choice for one row of 8-bit colour (3 bytes a pixel), worked
// out in one pass instead of five: the first of None, Sub, Up, Average and Paeth whose
// filtered bytes, each read as a signed byte's magnitude, have the least sum. prev is the
// row above. The sums do not depend on the order of the channels within a pixel.
int AdaptiveFilter(const uint8_t* row, const uint8_t* prev, size_t n);

// The row as libpng stores it: the filter type, then the filtered bytes (prev is the row
// above, zeros for the first).
void FilterRow(const uint8_t* row, const uint8_t* prev, size_t n, int filter, uint8_t* out);

}  // namespace globeforge::png_detail
