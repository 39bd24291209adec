// Memory for image pixels and other large tables. Large blocks are aligned to 2 MiB, so a
// system that backs all memory with transparent huge pages can back them whole, but they
// are not advised as huge pages: on a virtual machine whose host takes back the guest's
// free memory, a fresh huge page took 4.5 ms to fault in against about 1 ms for the same
// 2 MiB in small pages, and the stamps' scattered reads ran no faster in huge pages.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace globeforge {

// Memory for `bytes` bytes (at least one), aligned for any pixel type; nullptr when it cannot
// be had. Released with std::free.
void* AllocatePixelBlock(size_t bytes) noexcept;

struct PixelBlockFree {
    void operator()(void* p) const noexcept { std::free(p); }
};

// An owned block of `count` (at least one) trivially constructible elements with unspecified
// content; null when the memory cannot be had or the size overflows.
template <typename T>
using PixelBlock = std::unique_ptr<T[], PixelBlockFree>;

template <typename T>
PixelBlock<T> NewPixelBlock(size_t count) noexcept {
    static_assert(std::is_trivially_default_constructible_v<T> &&
                  std::is_trivially_destructible_v<T>);
    if (count > static_cast<size_t>(-1) / sizeof(T)) return nullptr;
    return PixelBlock<T>(static_cast<T*>(AllocatePixelBlock(count * sizeof(T))));
}

// An allocator for std::vector with the same blocks, whose resize leaves new elements
// uninitialised: its users write every entry before reading it, and zeroing a large fresh
// table first would touch every page one more time.
template <typename T>
struct PixelBlockAllocator {
    using value_type = T;
    PixelBlockAllocator() = default;
    template <typename U>
    PixelBlockAllocator(const PixelBlockAllocator<U>&) noexcept {}
    T* allocate(size_t n) {
        if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        void* p = AllocatePixelBlock(n * sizeof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t) noexcept { std::free(p); }
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <typename U>
    friend bool operator==(const PixelBlockAllocator&, const PixelBlockAllocator<U>&) {
        return true;
    }
};

}  // namespace globeforge
