// A 24-bit bitmap: the byte raster that files are read into and written from, and that
// the window's previews draw. Rows are Width x 3 bytes of blue, green, red with no padding,
// stored top row first in one contiguous block, so a whole bitmap can be handed to a
// toolkit image or a codec without copying.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/color_pack.h"
#include "image/float_image.h"

namespace globeforge {

struct Bitmap24 {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint8_t> Bytes;  // Height rows of Stride() bytes

    size_t Stride() const { return static_cast<size_t>(Width) * 3; }
    uint8_t* Row(int32_t y) { return Bytes.data() + static_cast<size_t>(y) * Stride(); }
    const uint8_t* Row(int32_t y) const { return Bytes.data() + static_cast<size_t>(y) * Stride(); }
};

// Gives the bitmap width x height pixels of unspecified content. False, with the bitmap
// unchanged, for a negative size or when memory cannot be had.
bool SetBitmapSize(Bitmap24& bitmap, int32_t width, int32_t height);

// Whether a picture of this size can be read in at all: its rows and the float image they
// become must fit in the machine's memory together. A compressed file of a few hundred
// kilobytes can claim a picture of many gigabytes; decoders ask this before allocating it.
bool PictureFitsInMemory(int64_t width, int64_t height);

// The bitmap takes the image's size; every pixel goes through PixelToBgr. False, with the
// bitmap unchanged, when the bitmap cannot be resized.
bool ImageToBitmap(Bitmap24& bitmap, const FloatImage& image);
// Row y of that bitmap: 3 x Width bytes, blue, green, red.
void ImageRowToBgr(const FloatImage& image, int32_t y, uint8_t* dst);

// The image takes the bitmap's size; every pixel goes through BgrToPixel, so A = 255.
// False, with the image unchanged, when the image cannot be resized.
bool BitmapToImage(FloatImage& image, const Bitmap24& bitmap);

}  // namespace globeforge
