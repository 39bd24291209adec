// Distances between pixel centres: the double square root of the exact integer sum of squares.
#pragma once

#include <cmath>
#include <cstdint>

namespace globeforge {

inline double Distance(int64_t dx, int64_t dy) {
    return std::sqrt(static_cast<double>(dx * dx + dy * dy));
}

}  // namespace globeforge
