// The PNG writer's parts: the job that describes one encoding, libpng's own encoder and the
// threaded one that writes libpng's bytes.
#pragma once

#include <png.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "image/float_image.h"
#include "image/png_libpng.h"

namespace globeforge::png_detail {

// What one encoding writes: rows already in the byte order libpng takes, and the text
// chunks in libpng's form.
struct EncodeJob {
    uint32_t width = 0;
    uint32_t height = 0;
    int bitDepth = 8;
    int colorType = PNG_COLOR_TYPE_RGB;
    bool bgr = false;  // 8-bit colour rows stored blue, green, red
    const uint8_t* pixels = nullptr;
    size_t stride = 0;
    // Instead of pixels: fills one row (stride bytes) of the image into row, which the
    // caller allocates before the encoding, so that a longjmp never skips its release.
    const FloatImage* image = nullptr;
    uint8_t* row = nullptr;
    png_text* texts = nullptr;
    int textCount = 0;
    int compressionLevel = 6;
    const std::atomic<bool>* cancel = nullptr;
    // Only the chunks before the image data (signature, header, texts).
    bool headOnly = false;
};

// Writes the file through libpng; the session writes to its output.
bool RunEncode(PngSession& session, const EncodeJob& job);

// The chunks libpng writes for 8-bit colour at level 6, with the image data compressed on
// several threads: the rows filtered as libpng chooses (AdaptiveFilter, the first row
// against zeros), the stream from DeflateLikeLibpng, cut into chunks of libpng's 8 KB.
bool EncodeThreaded(PngSession& session, const EncodeJob& job, int threads);

}  // namespace globeforge::png_detail
