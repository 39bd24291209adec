#include "image/jpeg_file.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>

#include "image_test_util.h"

namespace globeforge {
namespace {

// What a stock libjpeg decoder sees in a file's header.
struct JpegHeader {
    int width, height, components;
    bool jfif;
    int firstLumaQuantizer;
};

JpegHeader ReadHeader(const std::vector<uint8_t>& file) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), file.size());
    jpeg_read_header(&cinfo, TRUE);
    const JpegHeader h{int(cinfo.image_width), int(cinfo.image_height), cinfo.num_components,
                       cinfo.saw_JFIF_marker != 0, cinfo.quant_tbl_ptrs[0]->quantval[0]};
    jpeg_destroy_decompress(&cinfo);
    return h;
}

// Kinds of file this program never writes, made with the stock encoder.
std::vector<uint8_t> EncodeWithLibjpeg(int width, int height, J_COLOR_SPACE space,
                                       void (*option)(j_compress_ptr) = nullptr) {
    const int components = space == JCS_GRAYSCALE ? 1 : space == JCS_CMYK ? 4 : 3;
    std::vector<uint8_t> samples(size_t(width) * height * components);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = uint8_t(i * 5 / components);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    if (option) option(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = samples.data() + size_t(cinfo.next_scanline) * width * components;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<uint8_t> file(out, out + size);
    std::free(out);
    return file;
}

// Position just after the first marker of the given kind and its length field.
size_t AfterMarker(const std::vector<uint8_t>& file, uint8_t kind, bool skipSegment) {
    for (size_t i = 2; i + 3 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == kind) {
            return i + 2 + (skipSegment ? (file[i + 2] << 8 | file[i + 3]) : 0);
        }
    }
    return file.size();
}

void PatchFrameSize(std::vector<uint8_t>& file, uint8_t frameMarker, int width, int height) {
    const size_t at = AfterMarker(file, frameMarker, false) + 3;
    ASSERT_LT(at + 3, file.size());
    file[at] = uint8_t(height >> 8);
    file[at + 1] = uint8_t(height);
    file[at + 2] = uint8_t(width >> 8);
    file[at + 3] = uint8_t(width);
}

TEST(Jpeg, WritesJfifAtTheRequestedQualityAndReadsItBack) {
    const Bitmap24 gradient = testing::GradientBitmap(61, 35);  // not a multiple of 8 or 16
    std::vector<uint8_t> file;
    ASSERT_TRUE(EncodeJpeg(gradient, 90, file));
    const JpegHeader h = ReadHeader(file);
    EXPECT_EQ(h.width, 61);
    EXPECT_EQ(h.height, 35);
    EXPECT_EQ(h.components, 3);
    EXPECT_TRUE(h.jfif);
    EXPECT_EQ(h.firstLumaQuantizer, 3);  // 16 scaled to 20 %
    Bitmap24 back;
    ASSERT_TRUE(DecodeJpeg(file, back));
    ASSERT_EQ(back.Width, 61);
    ASSERT_EQ(back.Height, 35);
    double sum = 0;
    for (size_t i = 0; i < back.Bytes.size(); ++i)
        sum += std::abs(back.Bytes[i] - gradient.Bytes[i]);
    EXPECT_LT(sum / double(back.Bytes.size()), 2.0);

    // Out-of-range qualities are the library's to limit.
    for (const auto& [quality, quantizer] : {std::pair{50, 16}, {255, 1}, {0, 255}}) {
        ASSERT_TRUE(EncodeJpeg(gradient, quality, file));
        EXPECT_EQ(ReadHeader(file).firstLumaQuantizer, quantizer) << quality;
    }
    ASSERT_TRUE(EncodeJpeg(testing::GradientBitmap(1, 1), 90, file));
    ASSERT_TRUE(DecodeJpeg(file, back));
    EXPECT_EQ(back.Width * back.Height, 1);
    EXPECT_FALSE(EncodeJpeg(Bitmap24{}, 90, file));
}

TEST(Jpeg, CommentsTravelWithoutTouchingThePicture) {
    const Bitmap24 gradient = testing::GradientBitmap(20, 12);
    std::vector<uint8_t> plain, commented;
    ASSERT_TRUE(EncodeJpeg(gradient, 90, plain));
    const std::vector<std::string> comments = {"GlobeForge-Settings\nVersion 1.0e-37\r\n", "",
                                               std::string(kMaxJpegCommentBytes, 'x')};
    ASSERT_TRUE(EncodeJpeg(gradient, 90, comments, commented));
    EXPECT_TRUE(ReadHeader(commented).jfif);
    Bitmap24 a, b;
    ASSERT_TRUE(DecodeJpeg(plain, a));
    ASSERT_TRUE(DecodeJpeg(commented, b));
    EXPECT_EQ(a.Bytes, b.Bytes);

    std::vector<std::string> found;
    ASSERT_TRUE(ReadJpegComments(commented, found));
    EXPECT_EQ(found, comments);
    ASSERT_TRUE(ReadJpegComments(plain, found));
    EXPECT_TRUE(found.empty());

    // One byte more than a segment holds is refused, not cut.
    EXPECT_FALSE(EncodeJpeg(gradient, 90, {std::string(kMaxJpegCommentBytes + 1, 'x')}, commented));
    // A file cut inside its header, or not a JPEG at all, leaves the list alone.
    found = {"kept"};
    std::string error;
    EXPECT_FALSE(ReadJpegComments(std::span(plain).first(40), found, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(ReadJpegComments(std::vector<uint8_t>{'B', 'M', 0, 0}, found));
    EXPECT_FALSE(ReadJpegComments({}, found));
    EXPECT_EQ(found, std::vector<std::string>{"kept"});
}

TEST(Jpeg, DecodesGreyscaleAndProgressiveFiles) {
    Bitmap24 b;
    ASSERT_TRUE(DecodeJpeg(EncodeWithLibjpeg(20, 10, JCS_GRAYSCALE), b));
    ASSERT_EQ(b.Width, 20);
    ASSERT_EQ(b.Height, 10);
    for (size_t i = 0; i < b.Bytes.size(); i += 3) {
        ASSERT_TRUE(b.Bytes[i] == b.Bytes[i + 1] && b.Bytes[i] == b.Bytes[i + 2]) << i;
    }
    ASSERT_TRUE(DecodeJpeg(EncodeWithLibjpeg(33, 17, JCS_RGB, jpeg_simple_progression), b));
    EXPECT_EQ(b.Width, 33);
    EXPECT_EQ(b.Height, 17);
}

TEST(Jpeg, RefusesDamagedTruncatedOversizedAndCmykFiles) {
    std::vector<uint8_t> valid;
    ASSERT_TRUE(EncodeJpeg(testing::GradientBitmap(24, 16), 90, valid));
    testing::NamedFiles bad;
    testing::AddPrefixes(bad, valid, valid.size() - 2);  // only the end marker may be missing
    std::vector<uint8_t> changed = valid;
    const size_t middleOfData = (AfterMarker(valid, 0xDA, true) + valid.size()) / 2;
    changed[middleOfData] = 0xFF;  // an end-of-image marker inside the entropy data
    changed[middleOfData + 1] = 0xD9;
    bad.emplace_back("marker in data", changed);
    bad.emplace_back("garbage", std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 1, 2, 3, 4, 5});
    // The largest picture libjpeg accepts, claimed by a few hundred bytes.
    changed = valid;
    PatchFrameSize(changed, 0xC0, 65500, 65500);
    bad.emplace_back("huge baseline", changed);
    changed = EncodeWithLibjpeg(16, 16, JCS_YCbCr, jpeg_simple_progression);
    PatchFrameSize(changed, 0xC2, 65500, 65500);
    bad.emplace_back("huge progressive", changed);
    // Arithmetic-coded data that runs short decodes as zeros without a warning.
    bad.emplace_back("arithmetic", EncodeWithLibjpeg(8, 8, JCS_YCbCr, [](j_compress_ptr c) {
                         c->arith_code = TRUE;
                     }));
    bad.emplace_back("cmyk", EncodeWithLibjpeg(8, 8, JCS_CMYK));
    testing::ExpectRefused(DecodeJpeg, bad);

    std::string error;
    Bitmap24 b;
    DecodeJpeg(bad.back().second, b, &error);
    EXPECT_EQ(error, "unsupported JPEG colour space");
    DecodeJpeg(std::span(valid).first(valid.size() - 20), b, &error);
    EXPECT_EQ(error, "Corrupt JPEG data: premature end of data segment");
    EXPECT_TRUE(DecodeJpeg(std::span(valid).first(valid.size() - 2), b));
}

}  // namespace
}  // namespace globeforge
