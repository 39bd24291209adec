// Width x Height elements in one contiguous row-major block: element (x, y) is x + y * Width
// and row 0 is the top of the picture. The storage of both image kinds (FloatImage,
// ScalarImage), which differ only in what a pixel holds and in their operations.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

#include "image/pixel_block.h"

namespace globeforge {

// The largest number of pixels one image may hold; larger requests fail like a failed
// allocation instead of overflowing a size computation.
inline constexpr uint64_t kMaxImagePixels = uint64_t{1} << 32;

// A block for width x height pixels with unspecified content; null when a side is negative,
// the count is beyond kMaxImagePixels or the memory cannot be had. A zero-pixel image still
// gets a (one-element) block so Data() is never null.
template <typename P>
PixelBlock<P> NewGridBlock(int32_t width, int32_t height) {
    if (width < 0 || height < 0) return nullptr;
    const uint64_t count = uint64_t(uint32_t(width)) * uint64_t(uint32_t(height));
    if (count > kMaxImagePixels) return nullptr;
    return NewPixelBlock<P>(static_cast<size_t>(std::max<uint64_t>(count, 1)));
}

// Move-only: the destructor is the release of the image, and copies are made explicitly.
template <typename P>
class PixelGrid {
  public:
    PixelGrid() = default;
    PixelGrid(PixelGrid&&) noexcept = default;
    PixelGrid& operator=(PixelGrid&&) noexcept = default;
    PixelGrid(const PixelGrid&) = delete;
    PixelGrid& operator=(const PixelGrid&) = delete;

    // Change only through the image kind's own constructors and resizing.
    int32_t Width = 0;
    int32_t Height = 0;

    size_t PixelCount() const { return static_cast<size_t>(Width) * static_cast<size_t>(Height); }
    P* Data() { return pixels_.get(); }
    const P* Data() const { return pixels_.get(); }
    P* Row(int32_t y) { return pixels_.get() + static_cast<size_t>(y) * Width; }
    const P* Row(int32_t y) const { return pixels_.get() + static_cast<size_t>(y) * Width; }
    P& At(int32_t x, int32_t y) { return Row(y)[x]; }
    const P& At(int32_t x, int32_t y) const { return Row(y)[x]; }

  protected:
    // The image kind's own constructor: a width x height image with unspecified content, or
    // nullopt when NewGridBlock fails.
    template <typename Image>
    static std::optional<Image> NewGrid(int32_t width, int32_t height) {
        PixelBlock<P> block = NewGridBlock<P>(width, height);
        if (!block) return std::nullopt;
        Image image;
        image.Width = width;
        image.Height = height;
        image.pixels_ = std::move(block);
        return image;
    }

    PixelBlock<P> pixels_;
};

}  // namespace globeforge
