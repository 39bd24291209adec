#include "image/exr_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "image_test_util.h"

namespace globeforge {
namespace {

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Values no byte format could hold: negative, above 255, fractions, infinities and NaN.
FloatRaster Awkward(int32_t width, int32_t height, int32_t channels) {
    FloatRaster r{width, height, channels, {}};
    for (int32_t i = 0; i < width * height * channels; ++i) r.Samples.push_back(i * 1.37f - 20.0f);
    r.Samples[0] = 256.0f;
    r.Samples[1] = -1e30f;
    r.Samples[2] = std::numeric_limits<float>::infinity();
    r.Samples[3] = 1e-20f;
    return r;
}

}  // namespace

TEST(Exr, FloatsComeBackBitForBitWithTheirAttributes) {
    for (const int32_t channels : {1, 3}) {
        const FloatRaster raster = Awkward(17, 5, channels);
        const MetadataTexts attributes = {{"GlobeForge-Settings", "Version 1.0e-37\r\n雲.png\r\n"},
                                          {"GlobeForge-Version", "GlobeForge 1.0e-37"}};
        std::vector<uint8_t> file;
        ASSERT_TRUE(EncodeExr(raster, attributes, file)) << channels;
        EXPECT_TRUE(LooksLikeExr(file));
        FloatRaster back;
        ASSERT_TRUE(DecodeExr(file, back)) << channels;
        EXPECT_EQ(back.Width, 17);
        EXPECT_EQ(back.Height, 5);
        EXPECT_EQ(back.Channels, channels);
        EXPECT_TRUE(SameBits(back.Samples, raster.Samples)) << channels;

        MetadataTexts found;
        ASSERT_TRUE(ReadExrAttributes(file, found));
        EXPECT_EQ(found, attributes);  // ordered by name, as the header keeps them

        // The same input always gives the same bytes.
        std::vector<uint8_t> again;
        ASSERT_TRUE(EncodeExr(raster, attributes, again));
        EXPECT_EQ(again, file);
    }
    FloatRaster nan{1, 1, 1, {std::numeric_limits<float>::quiet_NaN()}};
    std::vector<uint8_t> file;
    ASSERT_TRUE(EncodeExr(nan, {}, file));
    FloatRaster back;
    ASSERT_TRUE(DecodeExr(file, back));
    EXPECT_TRUE(std::isnan(back.Samples[0]));
}

TEST(Exr, RefusesBadRastersAndDamagedFiles) {
    std::vector<uint8_t> file;
    EXPECT_FALSE(EncodeExr(FloatRaster{0, 4, 1, {}}, {}, file));
    EXPECT_FALSE(EncodeExr(FloatRaster{2, 2, 2, std::vector<float>(8)}, {}, file));
    EXPECT_FALSE(EncodeExr(FloatRaster{2, 2, 3, std::vector<float>(11)}, {}, file));
    // A name the format reserves for another type of attribute.
    EXPECT_FALSE(EncodeExr(FloatRaster{1, 1, 1, {0.0f}}, {{"compression", "none"}}, file));

    ASSERT_TRUE(EncodeExr(Awkward(40, 30, 3), {{"k", "v"}}, file));
    FloatRaster kept{1, 1, 1, {42.0f}};
    std::string error;
    for (const size_t keep : {size_t{0}, size_t{3}, size_t{60}, file.size() / 2, file.size() - 1}) {
        error.clear();
        EXPECT_FALSE(DecodeExr(std::span(file).first(keep), kept, &error)) << keep;
        EXPECT_FALSE(error.empty()) << keep;
    }
    EXPECT_EQ(kept.Samples, std::vector<float>{42.0f});
    MetadataTexts found = {{"a", "b"}};
    EXPECT_FALSE(ReadExrAttributes(std::span(file).first(60), found));
    EXPECT_FALSE(ReadExrAttributes(testing::ReadBytes("/dev/null"), found));
    EXPECT_EQ(found.size(), 1u);

    // An attribute that claims 2 GB in a file of a few hundred bytes is refused before the
    // library allocates the claim.
    std::vector<uint8_t> claims = file;
    const char kName[] = "k\0string";
    const auto at = std::search(claims.begin(), claims.end(), kName, kName + sizeof(kName));
    ASSERT_NE(at, claims.end());
    const size_t sizeField = static_cast<size_t>(at - claims.begin()) + sizeof(kName);
    const uint8_t huge[] = {0xff, 0xff, 0xff, 0x7f};
    std::copy(huge, huge + 4, claims.begin() + static_cast<std::ptrdiff_t>(sizeField));
    error.clear();
    EXPECT_FALSE(ReadExrAttributes(claims, found, &error));
    EXPECT_NE(error.find("more than the file holds"), std::string::npos) << error;
    EXPECT_FALSE(DecodeExr(claims, kept, &error));
}

}  // namespace globeforge
