#include "image/bitmap24.h"

#include <unistd.h>

#include <new>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace globeforge {

bool PictureFitsInMemory(int64_t width, int64_t height) {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return true;  // unknown: let the allocation decide
    const double needed = static_cast<double>(width) * static_cast<double>(height) *
                          static_cast<double>(3 + sizeof(FloatPixel));
    return needed <= static_cast<double>(pages) * static_cast<double>(pageSize);
}

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

void ImageRowToBgr(const FloatImage& image, int32_t y, uint8_t* dst) {
    const FloatPixel* src = image.Row(y);
    int32_t x = 0;
#ifdef __SSE2__
    // Four pixels at a time, with FloatToByte's clamp and rounding: maxps gives its second
    // operand, 0, for a NaN (and +0 for -0), minps then caps at 255, and cvtps2dq rounds in
    // the current mode as nearbyint does.
    const __m128 zero = _mm_setzero_ps();
    const __m128 top = _mm_set1_ps(255.0f);
    const auto bytes = [&](const FloatPixel& p) {
        return _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(_mm_loadu_ps(&p.R), zero), top));
    };
    for (; x + 4 <= image.Width; x += 4) {
        const __m128i rgba =
            _mm_packus_epi16(_mm_packs_epi32(bytes(src[x]), bytes(src[x + 1])),
                             _mm_packs_epi32(bytes(src[x + 2]), bytes(src[x + 3])));
        alignas(16) uint8_t b[16];
        _mm_store_si128(reinterpret_cast<__m128i*>(b), rgba);
        for (int k = 0; k < 4; ++k) {
            dst[0] = b[4 * k + 2];
            dst[1] = b[4 * k + 1];
            dst[2] = b[4 * k];
            dst += 3;
        }
    }
#endif
    for (; x < image.Width; ++x) {
        const BgrPixel bgr = PixelToBgr(src[x]);
        dst[0] = bgr.B;
        dst[1] = bgr.G;
        dst[2] = bgr.R;
        dst += 3;
    }
}

bool ImageToBitmap(Bitmap24& bitmap, const FloatImage& image) {
    if (!SetBitmapSize(bitmap, image.Width, image.Height)) return false;
    for (int32_t y = 0; y < image.Height; ++y) ImageRowToBgr(image, y, bitmap.Row(y));
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
