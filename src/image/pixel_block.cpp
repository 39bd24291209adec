#include "image/pixel_block.h"

#include <algorithm>
#ifdef __linux__
#include <sys/mman.h>
#endif

namespace globeforge {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

}  // namespace

void* AllocatePixelBlock(size_t bytes) noexcept {
    if (bytes < kHugePage) return std::malloc(std::max<size_t>(bytes, 1));
    if (bytes > static_cast<size_t>(-1) - kHugePage) return nullptr;
    // Whole huge pages, so that the advice covers no neighbour's memory.
    const size_t size = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, size);
#ifdef MADV_HUGEPAGE
    // Only advice: where huge pages are off or run out, the block is served in small pages.
    if (p) madvise(p, size, MADV_HUGEPAGE);
#endif
    return p;
}

}  // namespace globeforge
