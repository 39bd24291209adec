// Checks for the fuzz targets: a broken promise must stop the run as a crash, so the
// fuzzer keeps the input that caused it.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "image/bitmap24.h"

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace globeforge::fuzz {

// A bitmap a failed decode must leave exactly as it was.
inline Bitmap24 SentinelBitmap() {
    return Bitmap24{1, 2, {1, 2, 3, 4, 5, 6}};
}

inline bool SameBitmap(const Bitmap24& a, const Bitmap24& b) {
    return a.Width == b.Width && a.Height == b.Height && a.Bytes == b.Bytes;
}

// A decoded picture is whole: a positive size and three bytes for every pixel.
inline bool WellFormed(const Bitmap24& bitmap) {
    return bitmap.Width > 0 && bitmap.Height > 0 &&
           bitmap.Bytes.size() == bitmap.Stride() * static_cast<size_t>(bitmap.Height);
}

// Re-encoding is checked only for pictures this small, so large inputs stay fast.
inline constexpr size_t kMaxRoundTripPixels = 256 * 256;

inline size_t PixelCount(const Bitmap24& bitmap) {
    return static_cast<size_t>(bitmap.Width) * static_cast<size_t>(bitmap.Height);
}

// A private folder for the targets that go through files, made once per run.
inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/gf-fuzz-XXXXXX";
        FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
        return pattern;
    }();
    return folder;
}

inline bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

}  // namespace globeforge::fuzz
