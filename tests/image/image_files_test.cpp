#include "image/image_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "image/color_pack.h"
#include "image/exr_file.h"
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

TEST(ImageFiles, JpegQualityGovernsTheJpegWritten) {
    TempDir dir;
    FloatImage noise = *NewImage(48, 48);
    Bitmap24 bytes = testing::NoiseBitmap(48, 48);
    ASSERT_TRUE(BitmapToImage(noise, bytes));
    ASSERT_TRUE(SaveImageFile(noise, dir / "q10.jpg", ImageFileOptions{.jpegQuality = 10}));
    ASSERT_TRUE(SaveImageFile(noise, dir / "q95.jpg", ImageFileOptions{.jpegQuality = 95}));
    ASSERT_TRUE(SaveImageFile(noise, dir / "q90.jpg"));
    ASSERT_TRUE(SaveImageFile(noise, dir / "default.jpg", ImageFileOptions{}));
    EXPECT_LT(fs::file_size(dir / "q10.jpg") * 3, fs::file_size(dir / "q95.jpg"));
    EXPECT_EQ(ReadBytes(dir / "q90.jpg"), ReadBytes(dir / "default.jpg"));
}

TEST(ImageFiles, ProvenanceGoesWithThePngJpegAndOpenExrNames) {
    for (const char* name : {"a.png", "b.JPG", "c.jpeg", "d.Jpe", "e.exr", "dir.x/f.png"}) {
        EXPECT_TRUE(CarriesProvenance(name)) << name;
    }
    for (const char* name : {"a.bmp", "b", "dir.png/c", "d.png.txt"}) {
        EXPECT_FALSE(CarriesProvenance(name)) << name;
    }
}

// Heights 0 .. 256 in R, then values beyond both ends and NaN; G and B hold something else,
// so a height that came from them would show.
FloatImage HeightRamp() {
    FloatImage image = *NewImage(260, 1);
    for (int32_t x = 0; x < 257; ++x) image.At(x, 0) = {float(x), 7.0f, 9.0f, 255.0f};
    image.At(257, 0) = {300.0f, 0, 0, 255.0f};
    image.At(258, 0) = {-5.0f, 0, 0, 255.0f};
    image.At(259, 0) = {std::nanf(""), 0, 0, 255.0f};
    return image;
}

TEST(ImageFiles, HeightMapsKeepTheirPrecision) {
    TempDir dir;
    const FloatImage ramp = HeightRamp();
    ImageFileOptions height{.heightMap = true, .heightBitDepth = 16, .settingsText = ""};
    ASSERT_TRUE(SaveImageFile(ramp, dir / "h16.png", height));
    const std::vector<uint16_t> samples = testing::ReadGray16WithLibpng(ReadBytes(dir / "h16.png"));
    ASSERT_EQ(samples.size(), 260u);
    EXPECT_EQ(samples[0], 0);
    EXPECT_EQ(samples[1], 256);      // 255.996 rounded
    EXPECT_EQ(samples[128], 32768);  // 32767.5, half to even
    EXPECT_EQ(samples[256], 65535);
    EXPECT_EQ(samples[257], 65535);  // clamped
    EXPECT_EQ(samples[258], 0);
    EXPECT_EQ(samples[259], 0);  // NaN
    EXPECT_TRUE(std::is_sorted(samples.begin(), samples.begin() + 257));
    EXPECT_EQ(std::set<uint16_t>(samples.begin(), samples.end()).size(), 257u);

    // Depth 8, or a map that is not a height, stays the 8-bit colour file it always was.
    for (const ImageFileOptions& plain :
         {ImageFileOptions{.heightMap = true, .heightBitDepth = 8, .settingsText = ""},
          ImageFileOptions{.heightMap = false, .heightBitDepth = 16, .settingsText = ""},
          ImageFileOptions{.heightMap = true, .heightBitDepth = 12, .settingsText = ""}}) {
        ASSERT_TRUE(SaveImageFile(ramp, dir / "h8.png", plain));
        ASSERT_TRUE(SaveImageFile(ramp, dir / "old.png"));
        EXPECT_EQ(ReadBytes(dir / "h8.png"), ReadBytes(dir / "old.png"));
    }

    // OpenEXR: the height itself, unclamped; colours with 255 as 1.0.
    ASSERT_TRUE(SaveImageFile(ramp, dir / "h.exr", height));
    FloatRaster raster;
    ASSERT_TRUE(DecodeExr(ReadBytes(dir / "h.exr"), raster));
    ASSERT_EQ(raster.Channels, 1);
    for (int32_t x = 0; x < 259; ++x) EXPECT_EQ(raster.Samples[size_t(x)], ramp.At(x, 0).R) << x;
    EXPECT_TRUE(std::isnan(raster.Samples[259]));
    ASSERT_TRUE(SaveImageFile(TestImage(4, 3), dir / "colour.exr"));
    ASSERT_TRUE(DecodeExr(ReadBytes(dir / "colour.exr"), raster));
    ASSERT_EQ(raster.Channels, 3);
    const FloatPixel p = TestImage(4, 3).At(3, 2);
    EXPECT_FLOAT_EQ(raster.Samples[3 * 11], p.R / 255.0f);
    EXPECT_FLOAT_EQ(raster.Samples[3 * 11 + 1], p.G / 255.0f);
    EXPECT_FLOAT_EQ(raster.Samples[3 * 11 + 2], p.B / 255.0f);
    FloatImage loaded = *NewImage(1, 1);
    EXPECT_FALSE(LoadImageFile(loaded, dir / "colour.exr"));  // written, not read as a picture
}

TEST(ImageFiles, MapsCarryTheSettingsThatMadeThem) {
    TempDir dir;
    const std::string settings =
        "Version 1.0e-37\r\nOutputColorMap 地表 色.png\r\nCoastLevel 40\r\n";
    const FloatImage image = TestImage(9, 6);
    const ImageFileOptions options{.heightMap = true,
                                   .heightBitDepth = 16,
                                   .settingsText = settings,
                                   .productVersion = "GlobeForge 1.0e-37",
                                   .jpegQuality = 70};
    for (const std::string name : {"m.png", "m.jpg", "m.exr", "height.png"}) {
        ImageFileOptions o = options;
        o.heightMap = name == "height.png";
        ASSERT_TRUE(SaveImageFile(image, dir / name, o)) << name;
        MapProvenance provenance;
        std::string error;
        ASSERT_TRUE(ReadMapProvenance(dir / name, provenance, &error)) << name << ": " << error;
        EXPECT_EQ(provenance.settingsText, settings) << name;
        EXPECT_EQ(provenance.productVersion, "GlobeForge 1.0e-37") << name;
        EXPECT_EQ(provenance.jpegQuality, std::optional<int32_t>(70)) << name;
    }
    // The pictures are those of files without settings.
    ASSERT_TRUE(SaveImageFile(image, dir / "plain.png"));
    ASSERT_TRUE(SaveImageFile(image, dir / "plain.jpg", ImageFileOptions{.jpegQuality = 70}));
    for (const char* kind : {"png", "jpg"}) {
        Bitmap24 with, without;
        ASSERT_TRUE(LoadBitmapFile(with, dir / (std::string("m.") + kind)));
        ASSERT_TRUE(LoadBitmapFile(without, dir / (std::string("plain.") + kind)));
        EXPECT_EQ(with.Bytes, without.Bytes) << kind;
    }

    // Settings longer than one JPEG comment are split and joined again.
    std::string longSettings;
    for (int i = 0; longSettings.size() < 150000; ++i) {
        longSettings += "LoadHeightmap 長い名前" + std::to_string(i) + "\r\n";
    }
    for (const char* name : {"long.jpg", "long.png"}) {
        ASSERT_TRUE(
            SaveImageFile(image, dir / name, ImageFileOptions{.settingsText = longSettings}));
        MapProvenance provenance;
        ASSERT_TRUE(ReadMapProvenance(dir / name, provenance)) << name;
        EXPECT_EQ(provenance.settingsText, longSettings) << name;
    }

    // BMP files carry nothing and keep their bytes; files without settings say so.
    ASSERT_TRUE(SaveImageFile(image, dir / "m.bmp", options));
    ASSERT_TRUE(SaveImageFile(image, dir / "plain.bmp"));
    EXPECT_EQ(ReadBytes(dir / "m.bmp"), ReadBytes(dir / "plain.bmp"));
    for (const char* name : {"m.bmp", "plain.png", "plain.jpg", "missing.png"}) {
        MapProvenance provenance{"unchanged", "", std::nullopt};
        std::string error;
        EXPECT_FALSE(ReadMapProvenance(dir / name, provenance, &error)) << name;
        EXPECT_FALSE(error.empty()) << name;
        EXPECT_EQ(provenance.settingsText, "unchanged") << name;
    }
}

}  // namespace
}  // namespace globeforge
