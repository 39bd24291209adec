// A downloaded picture may claim far more pixels than its file size suggests: half a
// megabyte of PNG can hold a 65535 x 65535 picture of zeros (13 GB as 24-bit rows, 82 GB
// as a float image). Loading such a picture must be
// refused before its memory is touched, and a render that names it goes on without it.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>  // crc32 for the chunks

#include <cstdint>
#include <string>
#include <vector>

#include "image/bitmap24.h"
#include "image/image_files.h"
#include "image/jpeg_file.h"
#include "image/png_file.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace globeforge {
namespace {

void PutU32(std::string& out, uint32_t v) {
    for (const int shift : {24, 16, 8, 0}) out += static_cast<char>((v >> shift) & 0xFF);
}

void AddChunk(std::string& png, const char* type, const std::string& data) {
    PutU32(png, static_cast<uint32_t>(data.size()));
    const std::string body = type + data;
    png += body;
    PutU32(png, static_cast<uint32_t>(
                    crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

// Writes deflate's bits, least significant first; Huffman codes go most significant first.
struct BitWriter {
    std::string bytes;
    uint32_t pending = 0;
    int count = 0;
    void Put(uint32_t bits, int n) {
        pending |= bits << count;
        count += n;
        while (count >= 8) {
            bytes += static_cast<char>(pending & 0xFF);
            pending >>= 8;
            count -= 8;
        }
    }
    void PutCode(uint32_t code, int n) {
        for (int i = n - 1; i >= 0; --i) Put((code >> i) & 1, 1);
    }
};

// The zlib stream of size zero bytes, written directly: one literal zero, then copies of 258
// bytes at distance 1 (13 bits each in the fixed code), so a gigabyte costs a megabyte and
// no time to make.
std::string ZlibZeros(uint64_t size) {
    BitWriter w;
    w.Put(1, 1);         // final block
    w.Put(1, 2);         // fixed Huffman codes
    w.PutCode(0x30, 8);  // literal 0
    for (uint64_t left = size - 1; left > 0;) {
        if (left >= 258) {
            w.PutCode(0xC5, 8);  // length 258
            w.PutCode(0, 5);     // distance 1
            left -= 258;
        } else {
            w.PutCode(0x30, 8);
            --left;
        }
    }
    w.PutCode(0, 7);                                                       // end of block
    w.Put(0, 7);                                                           // flush to a byte
    const uint32_t adler = static_cast<uint32_t>(size % 65521) << 16 | 1;  // all zeros
    std::string stream = "\x78\x01" + w.bytes;
    PutU32(stream, adler);
    return stream;
}

// A 1-bit grey PNG of side x side black pixels.
std::string BlackPng(uint32_t side) {
    std::string png = "\x89PNG\r\n\x1a\n";
    std::string header;
    PutU32(header, side);
    PutU32(header, side);
    header += std::string("\x01\x00\x00\x00\x00", 5);  // depth 1, grey, no interlace
    AddChunk(png, "IHDR", header);
    // Each row: filter byte 0 and its bits, all zero.
    AddChunk(png, "IDAT", ZlibZeros(uint64_t{side} * ((side + 7) / 8 + 1)));
    AddChunk(png, "IEND", "");
    return png;
}

// A small JPEG whose frame header claims width x height.
std::vector<uint8_t> JpegClaiming(uint16_t width, uint16_t height) {
    Bitmap24 small;
    SetBitmapSize(small, 16, 16);
    std::vector<uint8_t> file;
    EncodeJpeg(small, 90, file);
    for (size_t i = 0; i + 8 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == 0xC0) {  // SOF0: length, precision, height, width
            file[i + 5] = static_cast<uint8_t>(height >> 8);
            file[i + 6] = static_cast<uint8_t>(height);
            file[i + 7] = static_cast<uint8_t>(width >> 8);
            file[i + 8] = static_cast<uint8_t>(width);
            break;
        }
    }
    return file;
}

TEST(PictureBombs, PicturesLargerThanMemoryAreRefusedBeforeTheyAreRead) {
    constexpr uint32_t kSide = 65535;
    if (PictureFitsInMemory(kSide, kSide)) GTEST_SKIP() << "this machine could load it";
    EXPECT_TRUE(PictureFitsInMemory(4096, 2048));

    // The same file at a size that fits is a good picture: the refusal is about memory.
    const std::string fits = BlackPng(300);
    Bitmap24 black;
    ASSERT_TRUE(DecodePng({reinterpret_cast<const uint8_t*>(fits.data()), fits.size()}, black));
    EXPECT_EQ(black.Width, 300);
    EXPECT_EQ(black.Bytes, std::vector<uint8_t>(300 * 300 * 3, 0));

    const std::string png = BlackPng(kSide);
    ASSERT_LT(png.size(), 4u << 20);  // a few megabytes here; zlib's best is half a megabyte
    Bitmap24 bitmap;
    std::string error;
    EXPECT_FALSE(
        DecodePng({reinterpret_cast<const uint8_t*>(png.data()), png.size()}, bitmap, &error));
    EXPECT_NE(error.find("more memory than this machine has"), std::string::npos) << error;
    EXPECT_EQ(bitmap.Width, 0);

    EXPECT_FALSE(DecodeJpeg(JpegClaiming(65500, 65500), bitmap, &error));
    EXPECT_NE(error.find("more memory than this machine has"), std::string::npos) << error;

    // Named as heightmap and cloud picture, it counts as no picture.
    testing::ScratchDir dir;
    dir.Write("bomb.png", png);
    const std::string planet =
        "GroundAutoCreate True\r\nCloudAutoCreate True\r\nOutputResolutionX 16\r\n"
        "OutputResolutionY 8\r\nOutputColorMap color.bmp\r\nOutputCloudColorMap clouds.bmp\r\n";
    dir.Write("plain.ORB", planet);
    dir.Write("bomb.ORB", planet + "LoadHeightmap bomb.png\r\nLoadCloudAlpha bomb.png\r\n");
    ASSERT_EQ(testing::RunRender("plain.ORB --quiet --out-dir plain", dir.path()).status, 0);
    const testing::RunResult r = testing::RunRender("bomb.ORB --quiet --out-dir bomb", dir.path());
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(dir.Read("bomb/color.bmp"), dir.Read("plain/color.bmp"));
    EXPECT_EQ(dir.Read("bomb/clouds.bmp"), dir.Read("plain/clouds.bmp"));
}

}  // namespace
}  // namespace globeforge
