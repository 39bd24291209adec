#include "image/pixel_block.h"

#include <algorithm>

namespace globeforge {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

}  // namespace

void* AllocatePixelBlock(size_t bytes) noexcept {
    if (bytes < kHugePage) return std::malloc(std::max<size_t>(bytes, 1));
    if (bytes > static_cast<size_t>(-1) - kHugePage) return nullptr;
    // Whole huge pages, so that a huge page never holds a neighbour's memory.
    const size_t size = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    return std::aligned_alloc(kHugePage, size);
}

}  // namespace globeforge
