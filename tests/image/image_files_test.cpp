#include "image/image_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "image/color_pack.h"
#include "image_test_util.h"

namespace globeforge {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::TempDir;

enum class Kind { Bmp, Jpeg, Png, Other };

Kind KindOfFile(const std::string& path) {
    const std::vector<uint8_t> b = ReadBytes(path);
    if (b.size() > 2 && b[0] == 'B' && b[1] == 'M') return Kind::Bmp;
    if (b.size() > 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return Kind::Jpeg;
    if (b.size() > 8 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') return Kind::Png;
    return Kind::Other;
}

// Values off the byte grid and outside 0..255, so the byte rule shows in every file.
FloatImage TestImage(int32_t width, int32_t height) {
    FloatImage image = *NewImage(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            image.At(x, y) = {x * 37.3f - 20.0f, y * 41.5f, 127.5f + x - y, 3.0f};
        }
    }
    return image;
}

bool SameImage(const FloatImage& a, const FloatImage& b) {
    return a.Width == b.Width && a.Height == b.Height &&
           std::equal(a.Data(), a.Data() + a.PixelCount(), b.Data());
}

TEST(ImageFiles, TheNameChoosesTheFormatWrittenAndTheContentTheFormatRead) {
    TempDir dir;
    const FloatImage image = TestImage(9, 4);
    fs::create_directory(dir / "maps.jpg");
    const std::pair<std::string, Kind> cases[] = {
        {"a.JPG", Kind::Jpeg},        {"b.jpeg", Kind::Jpeg},   {"c.Jpe", Kind::Jpeg},
        {"d.PNG", Kind::Png},         {"e.bmp", Kind::Bmp},     {"noextension", Kind::Bmp},
        {"f.txt", Kind::Bmp},         {"g.jpg.bmp", Kind::Bmp}, {"h.png.jpg", Kind::Jpeg},
        {"maps.jpg/plain", Kind::Bmp}};
    for (const auto& [name, kind] : cases) {
        ASSERT_TRUE(SaveImageFile(image, dir / name)) << name;
        EXPECT_EQ(KindOfFile(dir / name), kind) << name;
        // A renamed file still loads: its first bytes tell what it is.
        const std::string misnamed = dir / (name + (kind == Kind::Png ? ".jpg" : ".png"));
        fs::copy_file(dir / name, misnamed);
        for (const std::string& path : {dir / name, misnamed}) {
            FloatImage loaded = *NewImage(1, 1);
            ASSERT_TRUE(LoadImageFile(loaded, path)) << path;
            EXPECT_EQ(loaded.Width, 9) << path;
            EXPECT_EQ(loaded.Height, 4) << path;
        }
    }
}

TEST(ImageFiles, BmpAndPngAreExactAfterTheByteRuleAndJpegIsClose) {
    TempDir dir;
    const FloatImage image = TestImage(13, 7);
    for (const std::string name : {"exact.bmp", "exact.png", "lossy.jpg"}) {
        ASSERT_TRUE(SaveImageFile(image, dir / name));
        FloatImage loaded = *NewImage(2, 2);
        ASSERT_TRUE(LoadImageFile(loaded, dir / name));
        ASSERT_EQ(loaded.Width, 13);
        ASSERT_EQ(loaded.Height, 7);
        double worst = 0, sum = 0;
        for (size_t i = 0; i < image.PixelCount(); ++i) {
            const FloatPixel expected = BgrToPixel(PixelToBgr(image.Data()[i]));
            const FloatPixel got = loaded.Data()[i];
            ASSERT_EQ(got.A, 255.0f);
            for (const float d : {got.R - expected.R, got.G - expected.G, got.B - expected.B}) {
                worst = std::max(worst, double(std::fabs(d)));
                sum += std::fabs(d);
            }
        }
        if (name[0] == 'e') {
            EXPECT_EQ(worst, 0.0) << name;
        } else {
            EXPECT_LT(sum / double(3 * image.PixelCount()), 8.0) << name;  // sharp steps
        }
    }

    // A 300 x 200 file replaces whatever size the image had.
    ASSERT_TRUE(SaveImageFile(*NewFilledImage(300, 200, {10, 20, 30, 0}), dir / "big.bmp"));
    FloatImage loaded = TestImage(3, 3);
    ASSERT_TRUE(LoadImageFile(loaded, dir / "big.bmp"));
    ASSERT_EQ(loaded.Width, 300);
    ASSERT_EQ(loaded.Height, 200);
    EXPECT_TRUE(
        std::all_of(loaded.Data(), loaded.Data() + loaded.PixelCount(), [](const FloatPixel& p) {
            return p == FloatPixel{10, 20, 30, 255};
        }));
}

TEST(ImageFiles, FailedLoadsLeaveTheImageUntouched) {
    TempDir dir;
    testing::WriteBytes(dir / "empty.bmp", {});
    testing::WriteBytes(dir / "text.bmp", {'h', 'e', 'l', 'l', 'o'});
    fs::create_directory(dir / "folder.png");
    ASSERT_TRUE(SaveImageFile(TestImage(20, 20), dir / "whole.bmp"));
    std::vector<uint8_t> cut = ReadBytes(dir / "whole.bmp");
    cut.resize(cut.size() / 2);
    testing::WriteBytes(dir / "cut.bmp", cut);

    const std::pair<std::string, std::string> cases[] = {
        {"missing.bmp", "cannot open file: No such file or directory"},
        {"empty.bmp", "file is empty"},
        {"text.bmp", "not a BMP, JPEG or PNG file"},
        {"folder.png", "not a regular file"},
        {"cut.bmp", "BMP file is truncated"}};
    const FloatImage original = TestImage(4, 3);
    for (const auto& [name, reason] : cases) {
        FloatImage image = TestImage(4, 3);
        std::string error;
        EXPECT_FALSE(LoadImageFile(image, dir / name, &error)) << name;
        EXPECT_EQ(error, reason);
        EXPECT_TRUE(SameImage(image, original)) << name;
    }
    FloatImage image = TestImage(4, 3);
    EXPECT_FALSE(LoadImageFile(image, dir / "missing.bmp"));  // no reason asked for
}

TEST(ImageFiles, FailedSavesKeepTheExistingFile) {
    TempDir dir;
    fs::create_directory(dir / "locked");
    const std::string map = dir / "locked/map.jpg";
    ASSERT_TRUE(SaveImageFile(TestImage(5, 5), map));
    const std::vector<uint8_t> before = ReadBytes(map);
    std::string error;
    EXPECT_FALSE(SaveImageFile(FloatImage{}, map, &error));
    EXPECT_EQ(error, "image has no pixels");
    dir.Lock("locked");
    const std::optional<bool> refused = testing::RunInChild(
        [&] {
            std::string reason;
            return !SaveImageFile(TestImage(8, 8), map, &reason) &&
                   reason == "cannot create file: Permission denied";
        },
        true);
    EXPECT_EQ(refused, std::optional<bool>(true));
    EXPECT_EQ(ReadBytes(map), before);
    EXPECT_EQ(dir.Count("locked"), 1u);
}

TEST(JpegQuality, StartsAt90KeepsTheLowByteAndGovernsEveryJpegWritten) {
    EXPECT_EQ(GetJpegQuality(), 90);
    SetJpegQuality(356);
    EXPECT_EQ(GetJpegQuality(), 100);
    SetJpegQuality(-1);
    EXPECT_EQ(GetJpegQuality(), 255);

    TempDir dir;
    FloatImage noise = *NewImage(48, 48);
    Bitmap24 bytes = testing::NoiseBitmap(48, 48);
    ASSERT_TRUE(BitmapToImage(noise, bytes));
    SetJpegQuality(10);
    ASSERT_TRUE(SaveImageFile(noise, dir / "q10.jpg"));
    SetJpegQuality(95);
    ASSERT_TRUE(SaveImageFile(noise, dir / "q95.jpg"));
    SetJpegQuality(90);
    EXPECT_LT(fs::file_size(dir / "q10.jpg") * 3, fs::file_size(dir / "q95.jpg"));
}

}  // namespace
}  // namespace globeforge
