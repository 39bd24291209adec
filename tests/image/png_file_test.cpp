#include "image/png_file.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <utility>

#include "image_test_util.h"

namespace globeforge {
namespace {

// A PNG of any form, written with stock libpng from raw rows in the file's own layout.
struct PngSpec {
    uint32_t width = 0, height = 0;
    int colorType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool interlaced = false;
    bool gamma = true;
    std::vector<png_color> palette{};
    std::vector<png_byte> transparency{};
    std::vector<std::vector<uint8_t>> rows{};
};

void AppendToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

std::vector<uint8_t> WriteWithLibpng(const PngSpec& spec) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendToVector, nullptr);
    png_set_IHDR(png, info, spec.width, spec.height, spec.bitDepth, spec.colorType,
                 spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!spec.palette.empty()) {
        png_set_PLTE(png, info, spec.palette.data(), int(spec.palette.size()));
    }
    if (!spec.transparency.empty()) {
        png_set_tRNS(png, info, spec.transparency.data(), int(spec.transparency.size()), nullptr);
    }
    if (spec.gamma) png_set_gAMA(png, info, 1.0);  // must not change the samples read back
    png_write_info(png, info);
    std::vector<png_bytep> rows;
    for (const auto& row : spec.rows) rows.push_back(const_cast<png_bytep>(row.data()));
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

void RewriteHeaderSize(std::vector<uint8_t>& file, uint32_t width, uint32_t height) {
    for (int i = 0; i < 4; ++i) {
        file[16 + i] = uint8_t(width >> (24 - 8 * i));
        file[20 + i] = uint8_t(height >> (24 - 8 * i));
    }
    const uint32_t crc = uint32_t(crc32(0, file.data() + 12, 17));
    for (int i = 0; i < 4; ++i) file[29 + i] = uint8_t(crc >> (24 - 8 * i));
}

// The image data of an 8-bit RGB file inflated: each row's filter type and filtered bytes,
// which show the filter chosen for every row whatever the compression. Empty when zlib
// finds the stream damaged (it checks the header, the length and the Adler-32).
std::vector<uint8_t> FilteredRows(const std::vector<uint8_t>& file) {
    const auto u32 = [&](size_t at) {
        return uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 |
               uint32_t(file[at + 2]) << 8 | file[at + 3];
    };
    std::vector<uint8_t> stream;
    for (size_t pos = 8; pos + 12 <= file.size(); pos += size_t(u32(pos)) + 12) {
        if (std::memcmp(&file[pos + 4], "IDAT", 4) == 0) {
            stream.insert(stream.end(), file.begin() + long(pos) + 8,
                          file.begin() + long(pos + 8 + u32(pos)));
        }
    }
    std::vector<uint8_t> rows((size_t(u32(16)) * 3 + 1) * u32(20));
    uLongf length = rows.size();
    if (uncompress(rows.data(), &length, stream.data(), uLong(stream.size())) != Z_OK ||
        length != rows.size()) {
        return {};
    }
    return rows;
}

// The pixels stock libpng reads from a file, as blue, green, red rows; empty when it refuses
// the file.
std::vector<uint8_t> BgrByLibpng(const std::vector<uint8_t>& file) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return {};
    image.format = PNG_FORMAT_BGR;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
    return pixels;
}

TEST(Png, RoundTripIsExactAndTheFileIsPlainRgb8) {
    const Bitmap24 noise = testing::NoiseBitmap(37, 5);
    std::vector<uint8_t> file;
    ASSERT_TRUE(EncodePng(noise, file));
    EXPECT_EQ(file[24], 8);  // bit depth
    EXPECT_EQ(file[25], 2);  // colour type RGB
    EXPECT_EQ(file[28], 0);  // not interlaced

    EXPECT_EQ(BgrByLibpng(file), noise.Bytes);

    Bitmap24 back;
    ASSERT_TRUE(DecodePng(file, back));
    EXPECT_EQ(back.Width, 37);
    EXPECT_EQ(back.Bytes, noise.Bytes);

    std::vector<uint8_t> stored;
    ASSERT_TRUE(EncodePng(noise, stored, {.CompressionLevel = 0, .Texts = {}}));
    EXPECT_GT(stored.size(), noise.Bytes.size());
    EXPECT_FALSE(EncodePng(noise, stored, {.CompressionLevel = 10, .Texts = {}}));

    // A float image converted row by row while it is compressed: the file of its bitmap,
    // out-of-range and fractional values included.
    FloatImage floats;
    ASSERT_TRUE(BitmapToImage(floats, noise));
    floats.At(3, 1) = {-7.5f, 300.0f, 127.5f, 255.0f};
    floats.At(36, 4) = {0.49f, 254.51f, NAN, 1.0f};
    Bitmap24 converted;
    ASSERT_TRUE(ImageToBitmap(converted, floats));
    std::vector<uint8_t> fromBitmap, fromFloats;
    ASSERT_TRUE(EncodePng(converted, fromBitmap));
    ASSERT_TRUE(EncodePng(floats, fromFloats));
    EXPECT_EQ(fromFloats, fromBitmap);
}

// An 8-bit RGB picture written by libpng with its own filter choice (no gamma chunk, as
// ours) beside the same picture as a bitmap: rows are added top to bottom, RGB.
struct RgbCase {
    PngSpec spec;
    Bitmap24 bitmap;

    RgbCase(int w, int h) {
        spec.width = uint32_t(w);
        spec.height = uint32_t(h);
        spec.gamma = false;
        EXPECT_TRUE(SetBitmapSize(bitmap, w, h));
    }
    void AddRow(std::vector<uint8_t> row) {
        uint8_t* out = bitmap.Row(int(spec.rows.size()));
        for (size_t i = 0; i < row.size(); i += 3) {
            out[i] = row[i + 2];
            out[i + 1] = row[i + 1];
            out[i + 2] = row[i];
        }
        spec.rows.push_back(std::move(row));
    }
};

TEST(Png, SameRowsAsLibpngChoosingItsOwnFilters) {
    // Row by row the encoder picks the filter libpng would: on noise, gradients, stripes,
    // repeated rows, bytes about 128 (where a byte's magnitude turns) and flat rows, where
    // filters tie and the first of them is taken; from a bitmap and from a float image.
    // The filtered rows are libpng's, so the pixels are too.
    std::mt19937 gen(11);
    for (const auto& [w, h] :
         {std::pair{1, 1}, {1, 7}, {7, 1}, {2, 2}, {6, 5}, {37, 23}, {301, 40}}) {
        RgbCase c(w, h);
        FloatImage image = *NewImage(w, h);
        for (int y = 0; y < h; ++y) {
            std::vector<uint8_t> row(size_t(w) * 3);
            for (int x = 0; x < w; ++x) {
                for (int k = 0; k < 3; ++k) {
                    // The last two rows alike and flat: Up and Paeth tie at 0.
                    const int kind = y >= h - 2 && h > 3 ? 5 : (y + k) % 6;
                    const int v = kind == 0   ? int(gen() % 256)
                                  : kind == 1 ? (x * 7 + y * 3 + k) % 256
                                  : kind == 2 ? (x % 3 == 0 ? 250 : 5)
                                  : kind == 3 ? (x * 5 + k) % 256
                                  : kind == 4 ? 126 + int(gen() % 5)
                                              : 77;
                    row[size_t(x) * 3 + size_t(k)] = uint8_t(v);
                }
                image.At(x, y) = {float(row[size_t(x) * 3]), float(row[size_t(x) * 3 + 1]),
                                  float(row[size_t(x) * 3 + 2]), 255.0f};
            }
            c.AddRow(std::move(row));
        }
        const std::vector<uint8_t> stock = FilteredRows(WriteWithLibpng(c.spec));
        ASSERT_FALSE(stock.empty());
        std::vector<uint8_t> fromBitmap, fromImage;
        ASSERT_TRUE(EncodePng(c.bitmap, fromBitmap, {}));
        ASSERT_TRUE(EncodePng(image, fromImage, {}));
        EXPECT_TRUE(FilteredRows(fromBitmap) == stock) << w << " x " << h;
        EXPECT_TRUE(FilteredRows(fromImage) == stock) << w << " x " << h;
    }
}

TEST(Png, SameRowsAsLibpngOnNearTies) {
    // Smooth rows with a little noise, where the filters' sums lie close together.
    std::mt19937 gen(12);
    for (int round = 0; round < 300; ++round) {
        const int w = 1 + int(gen() % 40), h = 2 + int(gen() % 6);
        RgbCase c(w, h);
        const int noise = int(gen() % 4);
        for (int y = 0; y < h; ++y) {
            std::vector<uint8_t> row(size_t(w) * 3);
            for (size_t i = 0; i < row.size(); ++i) {
                const int left = i >= 3 ? row[i - 3] : 100;
                const int up = y > 0 ? c.spec.rows.back()[i] : 100;
                const int mode = (y + int(i) / 24) % 3;
                const int base = mode == 0 ? (left + up) / 2 : mode == 1 ? left : up;
                row[i] = uint8_t(base + int(gen() % unsigned(2 * noise + 1)) - noise);
            }
            c.AddRow(std::move(row));
        }
        std::vector<uint8_t> ours;
        ASSERT_TRUE(EncodePng(c.bitmap, ours, {}));
        ASSERT_TRUE(FilteredRows(ours) == FilteredRows(WriteWithLibpng(c.spec))) << round;
    }
}

TEST(Png, ThreadedCompressionKeepsThePixelsAndLibpngsRows) {
    // Images large enough for the compression to be split: noise (stored blocks), flat
    // runs (the longest matches, and a match reaching into the bytes past the end), grey
    // rows, rows repeated at a distance, smooth gradients with a little noise; one piece of
    // the parse or several (256 KB each), whose ends cut rows at uneven places. With any
    // number of threads, from a bitmap or a float image, stock libpng reads the file back
    // to the pixels, with libpng's filtered rows, and the file is no larger than libpng's.
    std::mt19937 gen(13);
    const auto threaded = [](int threads) {
        PngWriteOptions options;
        options.Threads = threads;
        return options;
    };
    for (const auto& [w, h] : {std::pair{200, 120}, {1000, 400}, {1111, 900}}) {
        RgbCase c(w, h);
        FloatImage image = *NewImage(w, h);
        for (int y = 0; y < h; ++y) {
            std::vector<uint8_t> row(size_t(w) * 3);
            const int kind = (y / 37) % 6;
            for (size_t i = 0; i < row.size(); ++i) {
                const int x = int(i / 3);
                const int v = kind == 0   ? int(gen() % 256)
                              : kind == 1 ? 40
                              : kind == 2 ? (x % 97) * 2 + int(i % 3)
                              : kind == 3 ? (x + y) % 256 + int(gen() % 3)
                              : kind == 4 ? (i % 3 ? row[i - 1] : (x * 3 + y) % 256)
                                          : (y % 2 ? 200 : int(gen() % 256));
                row[i] = uint8_t(v);
            }
            for (int x = 0; x < w; ++x) {
                const uint8_t* p = row.data() + size_t(x) * 3;
                image.At(x, y) = {float(p[0]), float(p[1]), float(p[2]), 255.0f};
            }
            c.AddRow(std::move(row));
        }
        const std::vector<uint8_t> stockFile = WriteWithLibpng(c.spec);
        const std::vector<uint8_t> stock = FilteredRows(stockFile);
        ASSERT_FALSE(stock.empty());
        for (const int threads : {1, 2, 3}) {
            std::vector<uint8_t> fromBitmap, fromImage;
            ASSERT_TRUE(EncodePng(c.bitmap, fromBitmap, threaded(threads)));
            ASSERT_TRUE(EncodePng(image, fromImage, threaded(threads)));
            for (const std::vector<uint8_t>* file : {&fromBitmap, &fromImage}) {
                EXPECT_TRUE(BgrByLibpng(*file) == c.bitmap.Bytes) << w << " x " << h;
                EXPECT_TRUE(FilteredRows(*file) == stock) << w << " x " << h << ", " << threads;
                EXPECT_LE(file->size(), stockFile.size()) << w << " x " << h << ", " << threads;
            }
        }
        std::vector<uint8_t> through;
        PngWriteOptions libpng;
        libpng.ThroughLibpng = true;
        ASSERT_TRUE(EncodePng(c.bitmap, through, libpng));
        EXPECT_TRUE(FilteredRows(through) == stock);
    }
    const std::atomic<bool> cancelled{true};
    PngWriteOptions cancelling = threaded(2);
    cancelling.Cancel = &cancelled;
    std::vector<uint8_t> out;
    std::string why;
    EXPECT_FALSE(EncodePng(*NewImage(300, 300), out, cancelling, &why));
    EXPECT_EQ(why, "cancelled");
}

TEST(Png, SixteenBitGreyKeepsEverySample) {
    // Large enough to be worth threads, should the compression take them.
    Gray16Raster raster{300, 120, {}};
    for (uint32_t i = 0; i < 36000; ++i) raster.Samples.push_back(uint16_t(i * 7919u));
    raster.Samples.back() = 65535;
    std::vector<uint8_t> file;
    PngWriteOptions options;
    for (const int threads : {1, 3}) {
        options.Threads = threads;
        ASSERT_TRUE(EncodePngGray16(raster, file, options));
        EXPECT_EQ(testing::ReadGray16WithLibpng(file), raster.Samples) << threads;
    }

    // Read as a picture, 16-bit grey becomes 8-bit grey in all three channels.
    Bitmap24 b;
    ASSERT_TRUE(DecodePng(file, b));
    EXPECT_EQ(b.Width, 300);
    EXPECT_EQ(b.Row(119)[3 * 299], 255);
    EXPECT_EQ(b.Row(0)[0], 0);
    EXPECT_EQ(b.Row(0)[1], 0);

    raster.Samples.pop_back();
    EXPECT_FALSE(EncodePngGray16(raster, file));
}

TEST(Png, TextChunksAreWrittenAndFoundWhereverTheyStand) {
    const Bitmap24 noise = testing::NoiseBitmap(5, 4);
    const MetadataTexts texts = {
        {"GlobeForge-Settings", "Version 1.0e-37\r\nOutputColorMap 地表.png\r\n"}, {"Empty", ""}};
    std::vector<uint8_t> file;
    ASSERT_TRUE(EncodePng(noise, file, {.CompressionLevel = 6, .Texts = texts}));
    MetadataTexts found;
    ASSERT_TRUE(ReadPngTexts(file, found));
    EXPECT_EQ(found, texts);
    Bitmap24 back;
    ASSERT_TRUE(DecodePng(file, back));
    EXPECT_EQ(back.Bytes, noise.Bytes);

    // Plain and compressed text written by stock libpng, one before and one after the data.
    std::vector<uint8_t> other;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_infop end = png_create_info_struct(png);
    png_set_write_fn(png, &other, AppendToVector, nullptr);
    png_set_IHDR(png, info, 5, 4, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_text before{};
    before.compression = PNG_TEXT_COMPRESSION_NONE;
    before.key = const_cast<char*>("Title");
    before.text = const_cast<char*>("first");
    png_set_text(png, info, &before, 1);
    png_write_info(png, info);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    for (int pass = 0; pass < 7; ++pass) {
        for (int32_t y = 0; y < 4; ++y) png_write_row(png, noise.Row(y));
    }
    const std::string longText(5000, 'z');
    png_text after{};
    after.compression = PNG_TEXT_COMPRESSION_zTXt;
    after.key = const_cast<char*>("Comment");
    after.text = const_cast<char*>(longText.c_str());
    png_set_text(png, end, &after, 1);
    png_write_end(png, end);
    png_destroy_info_struct(png, &end);
    png_destroy_write_struct(&png, &info);
    ASSERT_TRUE(ReadPngTexts(other, found));
    EXPECT_EQ(found, (MetadataTexts{{"Title", "first"}, {"Comment", longText}}));

    // Keys libpng would refuse, and text it would cut short, fail before any work.
    for (const MetadataText& bad : {MetadataText{"", "x"}, MetadataText{std::string(80, 'k'), "x"},
                                    MetadataText{"Key", std::string("a\0b", 3)}}) {
        EXPECT_FALSE(EncodePng(noise, file, {.CompressionLevel = 6, .Texts = {bad}}));
    }
    // A damaged file gives no texts and leaves the list alone.
    std::string error;
    EXPECT_FALSE(ReadPngTexts(std::span(other).first(other.size() / 2), found, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(found.size(), 2u);

    // A text chunk that claims 1.9 GB in a small file is refused before libpng allocates it.
    std::vector<uint8_t> claims = other;
    const char kTag[] = "zTXtComment";
    const auto at = std::search(claims.begin(), claims.end(), kTag, kTag + sizeof(kTag) - 1);
    ASSERT_NE(at, claims.end());
    const uint8_t huge[] = {0x74, 0x67, 0x2e, 0x29};
    std::copy(huge, huge + 4, at - 4);
    EXPECT_FALSE(ReadPngTexts(claims, found, &error));
    EXPECT_EQ(error, "a PNG chunk is longer than the file");
}

TEST(Png, DecodesEveryPixelFormToEightBitBgrDroppingAlpha) {
    Bitmap24 b;
    PngSpec palette{.width = 3, .height = 1, .colorType = PNG_COLOR_TYPE_PALETTE, .bitDepth = 4};
    palette.palette = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    palette.transparency = {0};  // index 0 fully transparent: its colour stays
    palette.rows = {{0x01, 0x20}};
    ASSERT_TRUE(DecodePng(WriteWithLibpng(palette), b));
    EXPECT_EQ(b.Bytes, (std::vector<uint8_t>{0, 0, 255, 0, 255, 0, 255, 0, 0}));

    PngSpec bits{.width = 10, .height = 1, .colorType = PNG_COLOR_TYPE_GRAY, .bitDepth = 1};
    bits.rows = {{0b10000000, 0b01000000}};
    ASSERT_TRUE(DecodePng(WriteWithLibpng(bits), b));
    ASSERT_EQ(b.Width, 10);
    EXPECT_EQ(b.Row(0)[0], 255);
    EXPECT_EQ(b.Row(0)[3 * 8 + 1], 0);
    EXPECT_EQ(b.Row(0)[3 * 9 + 2], 255);

    PngSpec deep{.width = 4, .height = 1, .colorType = PNG_COLOR_TYPE_GRAY, .bitDepth = 16};
    deep.rows = {{0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF, 0x12, 0x34}};
    ASSERT_TRUE(DecodePng(WriteWithLibpng(deep), b));
    EXPECT_EQ(b.Bytes, (std::vector<uint8_t>{0, 0, 0, 128, 128, 128, 255, 255, 255, 18, 18, 18}));

    PngSpec greyAlpha{.width = 1, .height = 1, .colorType = PNG_COLOR_TYPE_GRAY_ALPHA};
    greyAlpha.rows = {{100, 0}};
    ASSERT_TRUE(DecodePng(WriteWithLibpng(greyAlpha), b));
    EXPECT_EQ(b.Bytes, (std::vector<uint8_t>{100, 100, 100}));

    PngSpec rgba16{.width = 1, .height = 1, .colorType = PNG_COLOR_TYPE_RGBA, .bitDepth = 16};
    rgba16.rows = {{0xFF, 0xFF, 0, 0, 0x80, 0x80, 0, 0}};
    ASSERT_TRUE(DecodePng(WriteWithLibpng(rgba16), b));
    EXPECT_EQ(b.Bytes, (std::vector<uint8_t>{128, 0, 255}));

    const Bitmap24 noise = testing::NoiseBitmap(9, 7);
    PngSpec interlaced{.width = 9, .height = 7, .interlaced = true};
    for (int32_t y = 0; y < 7; ++y) {
        std::vector<uint8_t> row(noise.Row(y), noise.Row(y) + 27);
        for (size_t x = 0; x < row.size(); x += 3) std::swap(row[x], row[x + 2]);  // to RGB
        interlaced.rows.push_back(row);
    }
    ASSERT_TRUE(DecodePng(WriteWithLibpng(interlaced), b));
    EXPECT_EQ(b.Bytes, noise.Bytes);
}

TEST(Png, RefusesTruncatedCorruptAndOversizedFiles) {
    std::vector<uint8_t> valid;
    ASSERT_TRUE(EncodePng(testing::NoiseBitmap(8, 8), valid));
    testing::NamedFiles bad;
    testing::AddPrefixes(bad, valid, valid.size() - 12);  // only the end chunk may be missing
    std::vector<uint8_t> changed = valid;
    changed[valid.size() - 30] ^= 0x01;  // inside the image data
    bad.emplace_back("damaged data", changed);
    const std::pair<uint32_t, uint32_t> sizes[] = {{65536, 1}, {0, 8}, {60000, 60000}};
    for (const auto& [width, height] : sizes) {
        changed = valid;
        RewriteHeaderSize(changed, width, height);
        bad.emplace_back(std::to_string(width) + " x " + std::to_string(height), changed);
    }
    testing::ExpectRefused(DecodePng, bad);
    std::string error;
    Bitmap24 b;
    DecodePng(bad.back().second, b, &error);  // 10 GB of pixels from a few hundred bytes
    EXPECT_EQ(error, "PNG: image data larger than the file can hold");
    EXPECT_TRUE(DecodePng(std::span(valid).first(valid.size() - 12), b));
}

}  // namespace
}  // namespace globeforge
