// Helpers shared by the image tests: bitmaps with known content, 16-bit samples read by stock
// libpng and a check that decoders refuse files cleanly; scratch folders, whole files and
// child processes come from the shared test support.
#pragma once

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "image/bitmap24.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace globeforge::testing {
inline namespace image_support {

// The image tests' name for the shared scratch folder.
using TempDir = ScratchDir;

// Smooth gradients: what lossy compression keeps well.
inline Bitmap24 GradientBitmap(int32_t width, int32_t height) {
    Bitmap24 bitmap;
    SetBitmapSize(bitmap, width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint8_t* p = bitmap.Row(y) + 3 * x;
            p[0] = uint8_t(x * 255 / std::max(1, width - 1));
            p[1] = uint8_t(y * 255 / std::max(1, height - 1));
            p[2] = uint8_t((x + y) * 255 / std::max(1, width + height - 2));
        }
    }
    return bitmap;
}

// Every byte unrelated to its neighbours, so any misplaced byte shows.
inline Bitmap24 NoiseBitmap(int32_t width, int32_t height) {
    Bitmap24 bitmap;
    SetBitmapSize(bitmap, width, height);
    uint32_t state = 12345;
    for (uint8_t& b : bitmap.Bytes) b = uint8_t((state = state * 1664525u + 1013904223u) >> 24);
    return bitmap;
}

using NamedFiles = std::vector<std::pair<std::string, std::vector<uint8_t>>>;
using Decoder = bool (*)(std::span<const uint8_t>, Bitmap24&, std::string*);

// Every prefix of file shorter than length.
inline void AddPrefixes(NamedFiles& files, const std::vector<uint8_t>& file, size_t length) {
    for (size_t n = 0; n < length; ++n) {
        files.emplace_back("prefix " + std::to_string(n),
                           std::vector<uint8_t>(file.begin(), file.begin() + long(n)));
    }
}

// Each file is refused with a reason, and the bitmap keeps its size and content.
inline void ExpectRefused(Decoder decode, const NamedFiles& files) {
    Bitmap24 bitmap = NoiseBitmap(2, 2);
    const std::vector<uint8_t> before = bitmap.Bytes;
    for (const auto& [name, file] : files) {
        std::string error;
        EXPECT_FALSE(decode(file, bitmap, &error)) << name;
        EXPECT_FALSE(error.empty()) << name;
        EXPECT_EQ(bitmap.Width, 2) << name;
        EXPECT_EQ(bitmap.Bytes, before) << name;
    }
}

struct PngMemoryReader {
    const std::vector<uint8_t>* file;
    size_t at = 0;
};

inline void ReadPngFromMemory(png_structp png, png_bytep data, png_size_t length) {
    auto* r = static_cast<PngMemoryReader*>(png_get_io_ptr(png));
    std::memcpy(data, r->file->data() + r->at, length);
    r->at += length;
}

// The samples of a 16-bit greyscale file as stock libpng reads them; empty for any other
// kind of PNG file.
inline std::vector<uint16_t> ReadGray16WithLibpng(const std::vector<uint8_t>& file) {
    PngMemoryReader reader{&file};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_read_fn(png, &reader, ReadPngFromMemory);
    png_read_info(png, info);
    std::vector<uint16_t> samples;
    if (png_get_bit_depth(png, info) == 16 &&
        png_get_color_type(png, info) == PNG_COLOR_TYPE_GRAY) {
        const uint32_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
        std::vector<uint8_t> row(w * 2);
        for (uint32_t y = 0; y < h; ++y) {
            png_read_row(png, row.data(), nullptr);
            for (uint32_t x = 0; x < w; ++x)
                samples.push_back(uint16_t(row[2 * x] << 8 | row[2 * x + 1]));
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return samples;
}

}  // namespace image_support
}  // namespace globeforge::testing
