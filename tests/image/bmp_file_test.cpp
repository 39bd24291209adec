#include "image/bmp_file.h"

#include <gtest/gtest.h>

#include "image_test_util.h"

namespace globeforge {
namespace {

// A BMP file assembled field by field, as other programs write them.
struct BmpBuilder {
    uint32_t headerSize = 40;
    int32_t width = 0, height = 0;  // negative height: top-down
    uint16_t bitCount = 24;
    uint32_t compression = 0, colorsUsed = 0;
    std::vector<uint32_t> palette{};           // 0x00RRGGBB
    std::vector<uint32_t> masks{};             // red, green, blue
    std::vector<std::vector<uint8_t>> rows{};  // in file order, unpadded

    std::vector<uint8_t> Build() const {
        std::vector<uint8_t> f = {'B', 'M'};
        auto put = [&](uint32_t v, int bytes) {
            for (int i = 0; i < bytes; ++i) f.push_back(i < 4 ? uint8_t(v >> (8 * i)) : 0);
        };
        const bool core = headerSize == 12;
        const uint32_t offset = 14 + headerSize + (headerSize == 40 ? 4 * masks.size() : 0) +
                                uint32_t(palette.size() * (core ? 3 : 4));
        put(0, 4);  // file size: readers must not rely on it
        put(0, 4);
        put(offset, 4);
        put(headerSize, 4);
        put(uint32_t(width), core ? 2 : 4);
        put(uint32_t(height), core ? 2 : 4);
        put(1, 2);
        put(bitCount, 2);
        if (!core) {
            put(compression, 4);
            put(0, 12);  // image size, resolution
            put(colorsUsed, 4);
            put(0, 4);
            for (uint32_t m : masks) put(m, 4);
            while (f.size() < 14 + headerSize) f.push_back(0);  // V4/V5 colour space fields
        }
        for (uint32_t c : palette) put(c, core ? 3 : 4);
        for (const auto& row : rows) {
            f.insert(f.end(), row.begin(), row.end());
            while ((f.size() - offset) % 4 != 0) f.push_back(0);
        }
        return f;
    }
};

std::vector<uint8_t> Decoded(const BmpBuilder& builder) {
    Bitmap24 b;
    std::string error;
    EXPECT_TRUE(DecodeBmp(builder.Build(), b, &error)) << error;
    return b.Bytes;
}

TEST(EncodeBmp, WritesPlain24BitBottomUpRowsPaddedToFourBytes) {
    Bitmap24 bitmap;
    SetBitmapSize(bitmap, 3, 2);
    for (size_t i = 0; i < bitmap.Bytes.size(); ++i) bitmap.Bytes[i] = uint8_t(i + 1);
    std::vector<uint8_t> file;
    ASSERT_TRUE(EncodeBmp(bitmap, file));
    const std::vector<uint8_t> expected = {
        'B', 'M', 78, 0,  0,  0,  0,  0,  0,  0, 54, 0, 0, 0,  // file header
        40,  0,   0,  0,  3,  0,  0,  0,  2,  0, 0,  0, 1, 0,
        24,  0,  // size, width, height, planes, bits
        0,   0,   0,  0,  24, 0,  0,  0,  0,  0, 0,  0, 0, 0,
        0,   0,                                          // no compression, image size
        0,   0,   0,  0,  0,  0,  0,  0,                 // no palette
        10,  11,  12, 13, 14, 15, 16, 17, 18, 0, 0,  0,  // bottom row first
        1,   2,   3,  4,  5,  6,  7,  8,  9,  0, 0,  0};
    EXPECT_EQ(file, expected);
    Bitmap24 back;
    ASSERT_TRUE(DecodeBmp(file, back));
    EXPECT_EQ(back.Width, 3);
    EXPECT_EQ(back.Bytes, bitmap.Bytes);
    std::string error;
    EXPECT_FALSE(EncodeBmp(Bitmap24{}, file, &error));
    EXPECT_EQ(error, "image has no pixels");
}

TEST(DecodeBmp, ReadsPaletteFilesOfOneFourAndEightBits) {
    BmpBuilder one{.width = 10, .height = 2, .bitCount = 1, .palette = {0x000000, 0xFFFFFF}};
    one.rows = {{0b10000000, 0b01000000}, {0b01000000, 0b00000000}};  // bottom row first
    const std::vector<uint8_t> ones = Decoded(one);
    ASSERT_EQ(ones.size(), 60u);
    for (size_t x = 0; x < 10; ++x) {
        EXPECT_EQ(ones[3 * x], x == 1 ? 255 : 0) << x;                 // top row
        EXPECT_EQ(ones[30 + 3 * x], x == 0 || x == 9 ? 255 : 0) << x;  // bottom row
    }
    BmpBuilder four{.width = 3, .height = -1, .bitCount = 4, .colorsUsed = 3};
    four.palette = {0x112233, 0x445566, 0x778899};
    four.rows = {{0x21, 0x00}};
    EXPECT_EQ(Decoded(four),
              (std::vector<uint8_t>{0x99, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}));
    // Core (OS/2) header: three-byte palette entries, unsigned 16-bit sizes.
    BmpBuilder eight{.headerSize = 12, .width = 2, .height = 1, .bitCount = 8};
    eight.palette = {0x0000FF, 0x00FF00, 0xFF0000};
    eight.rows = {{2, 0}};
    EXPECT_EQ(Decoded(eight), (std::vector<uint8_t>{0, 0, 255, 255, 0, 0}));
}

TEST(DecodeBmp, ReadsDirectColourInEveryHeaderVersionAndRowOrder) {
    const std::vector<uint8_t> expected = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};  // 2 x 2
    BmpBuilder topDown{.width = 2, .height = -2};
    topDown.rows = {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}};
    EXPECT_EQ(Decoded(topDown), expected);
    BmpBuilder plain32{.width = 2, .height = 2, .bitCount = 32};
    plain32.rows = {{7, 8, 9, 0xEE, 10, 11, 12, 0xEE}, {1, 2, 3, 0, 4, 5, 6, 0}};
    EXPECT_EQ(Decoded(plain32), expected);
    // Bit-field files: the masks follow a plain header and sit inside V4 and V5 headers.
    for (uint32_t headerSize : {40u, 108u, 124u}) {
        BmpBuilder masked = plain32;
        masked.headerSize = headerSize;
        masked.compression = 3;
        masked.masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
        EXPECT_EQ(Decoded(masked), expected) << headerSize;
    }
    // 16-bit 5-6-5: full fields become 255, red 16 of 31 becomes 132.
    BmpBuilder rgb565{.width = 2, .height = 1, .bitCount = 16, .compression = 3};
    rgb565.masks = {0xF800, 0x07E0, 0x001F};
    rgb565.rows = {{0xFF, 0xFF, 0x00, 0x80}};
    EXPECT_EQ(Decoded(rgb565), (std::vector<uint8_t>{255, 255, 255, 0, 0, 132}));
}

TEST(DecodeBmp, RefusesCompressedDamagedAndOversizedFiles) {
    const BmpBuilder good{.width = 3,
                          .height = 2,
                          .bitCount = 8,
                          .palette = {0, 0x808080},
                          .rows = {{0, 1, 1}, {1, 0, 0}}};
    const std::vector<uint8_t> valid = good.Build();
    testing::NamedFiles bad;
    auto variant = [&](const std::string& name, auto change) {
        BmpBuilder b = good;
        change(b);
        bad.emplace_back(name, b.Build());
    };
    variant("rle8", [](BmpBuilder& b) { b.compression = 1; });
    variant("rle4", [](BmpBuilder& b) { b.compression = 2; });
    variant("embedded jpeg", [](BmpBuilder& b) { b.compression = 4; });
    variant("zero width", [](BmpBuilder& b) { b.width = 0; });
    variant("zero height", [](BmpBuilder& b) { b.height = 0; });
    variant("negative width", [](BmpBuilder& b) { b.width = -3; });
    variant("too wide", [](BmpBuilder& b) { b.width = 65536; });
    variant("too tall top-down", [](BmpBuilder& b) { b.height = -65536; });
    variant("smallest height", [](BmpBuilder& b) { b.height = INT32_MIN; });
    variant("rows beyond the file", [](BmpBuilder& b) { b.width = b.height = 60000; });
    variant("index beyond palette", [](BmpBuilder& b) { b.rows[0][2] = 2; });
    variant("2 bits per pixel", [](BmpBuilder& b) { b.bitCount = 2; });
    variant("unknown header", [](BmpBuilder& b) { b.headerSize = 44; });
    variant("masks on 24 bits", [](BmpBuilder& b) {
        b = {.width = 1, .height = 1, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}};
    });
    variant("scattered mask", [](BmpBuilder& b) {
        b = {.width = 1, .height = 1, .bitCount = 32, .compression = 3};
        b.masks = {0xF0F000, 0xFF00, 0xFF};
        b.rows = {{0, 0, 0, 0}};
    });
    std::vector<uint8_t> changed = valid;
    changed[1] = 'A';
    bad.emplace_back("magic", changed);
    changed = valid;
    changed[13] = 0x10;  // pixel data "at" 256 MiB
    bad.emplace_back("offset", changed);
    testing::AddPrefixes(bad, valid, valid.size() - 1);  // the last row may lack its padding
    testing::ExpectRefused(DecodeBmp, bad);
    std::string error;
    Bitmap24 b;
    EXPECT_FALSE(DecodeBmp(bad[0].second, b, &error));
    EXPECT_EQ(error, "compressed BMP files are not supported");
    EXPECT_TRUE(DecodeBmp(std::span(valid).first(valid.size() - 1), b));
}

}  // namespace
}  // namespace globeforge
