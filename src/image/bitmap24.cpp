#include "image/bitmap24.h"

#include <new>

namespace globeforge {

bool SetBitmapSize(Bitmap24& bitmap, int32_t width, int32_t height) {
    if (width < 0 || height < 0) return false;
    const uint64_t count = uint64_t(uint32_t(width)) * uint64_t(uint32_t(height));
    if (count > kMaxImagePixels) return false;
    try {
        bitmap.Bytes.resize(static_cast<size_t>(count) * 3);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    bitmap.Width = width;
    bitmap.Height = height;
    return true;
}

bool ImageToBitmap(Bitmap24& bitmap, const FloatImage& image) {
    if (!SetBitmapSize(bitmap, image.Width, image.Height)) return false;
    for (int32_t y = 0; y < image.Height; ++y) {
        const FloatPixel* src = image.Row(y);
        uint8_t* dst = bitmap.Row(y);
        for (int32_t x = 0; x < image.Width; ++x) {
            const BgrPixel bgr = PixelToBgr(src[x]);
            dst[0] = bgr.B;
            dst[1] = bgr.G;
            dst[2] = bgr.R;
            dst += 3;
        }
    }
    return true;
}

bool BitmapToImage(FloatImage& image, const Bitmap24& bitmap) {
    if ((image.Width != bitmap.Width || image.Height != bitmap.Height) &&
        !ResizeImage(image, bitmap.Width, bitmap.Height)) {
        return false;
    }
    for (int32_t y = 0; y < bitmap.Height; ++y) {
        const uint8_t* src = bitmap.Row(y);
        FloatPixel* dst = image.Row(y);
        for (int32_t x = 0; x < bitmap.Width; ++x) {
            dst[x] = BgrToPixel({src[0], src[1], src[2]});
            src += 3;
        }
    }
    return true;
}

}  // namespace globeforge
