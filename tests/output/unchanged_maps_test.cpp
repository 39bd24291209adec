// Settings files written before the extra outputs existed must keep rendering the same
// pixels: BMP maps byte for byte, PNG and JPEG maps once decoded (their bytes may gain
// metadata). The hashes were taken from the renderer before those outputs were added.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/jpeg_quality.h"
#include "image/image_files.h"
#include "image/image_test_util.h"
#include "output/save_maps.h"
#include "render/render_planet.h"
#include "settings/gather_render_params.h"
#include "settings/settings_file.h"

namespace globeforge {
namespace {

using testing::ReadBytes;
using testing::ScratchDir;

uint64_t Fnv1a(const uint8_t* data, size_t size, uint64_t hash = 14695981039346656037ull) {
    for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
    return hash;
}

// BMP files are hashed as they are; other files by their decoded size and pixels.
uint64_t MapHash(const std::string& path) {
    if (path.ends_with(".bmp")) {
        const std::vector<uint8_t> bytes = ReadBytes(path);
        return Fnv1a(bytes.data(), bytes.size());
    }
    Bitmap24 bitmap;
    if (!LoadBitmapFile(bitmap, path)) return 0;
    const int32_t size[2] = {bitmap.Width, bitmap.Height};
    const uint64_t hash = Fnv1a(reinterpret_cast<const uint8_t*>(size), sizeof size);
    return Fnv1a(bitmap.Bytes.data(), bitmap.Bytes.size(), hash);
}

struct PinnedMap {
    const char* name;
    uint64_t hash;
};

// Renders an old-style settings text into dir and compares every map with its pin.
void ExpectPinnedMaps(const std::string& settings, const std::vector<PinnedMap>& pins) {
    ScratchDir dir;
    SettingsModel model;
    ASSERT_TRUE(ApplySettingsText(model, settings, "pinned").ok);
    RenderParams params = GatherRenderParams(model);
    size_t named = 0;
    for (std::string* name : {&params.OutputColorMap, &params.OutputSpeculerMap,
                              &params.OutputBumpMap, &params.OutputCloudColorMap,
                              &params.OutputCloudBumpMap, &params.OutputCloudTransparencyMap}) {
        if (name->empty()) continue;
        *name = dir / *name;
        ++named;
    }
    SetJpegQuality(90);
    RenderContext ctx;
    ctx.threads = 2;
    ASSERT_TRUE(RenderPlanet(params, ctx)) << ctx.failure;
    std::string failed, reason;
    ASSERT_TRUE(SaveRenderMaps(params, &failed, &reason)) << failed << ": " << reason;
    EXPECT_EQ(dir.Count(), named);  // no cube faces unless asked for
    for (const PinnedMap& pin : pins) {
        EXPECT_EQ(MapHash(dir / pin.name), pin.hash)
            << pin.name << " now hashes to 0x" << std::hex << MapHash(dir / pin.name);
    }
}

}  // namespace

TEST(UnchangedMaps, OldSettingsRenderThePinnedPixels) {
    // Clouds mixed into the three ground maps, oversampled, with craters and ice.
    ExpectPinnedMaps(
        "Version 1.0e-37\r\n"
        "GroundAutoCreate True\r\n"
        "CloudAutoCreate True\r\n"
        "GroundXWarp 20\r\n"
        "GroundYWarp 10\r\n"
        "CoastLevel 45\r\n"
        "IceQuantity 30\r\n"
        "NumberOfCraters 6\r\n"
        "CloudQuantity 5\r\n"
        "CloudXWarp 30\r\n"
        "RandomSeed 4242\r\n"
        "OverSampling 2\r\n"
        "OutputResolutionX 48\r\n"
        "OutputResolutionY 24\r\n"
        "OutputColorMap color.bmp\r\n"
        "OutputBumpMap bump.png\r\n"
        "OutputSpeculerMap spec.jpg\r\n",
        {{"color.bmp", 0x61d972445512b89ull},
         {"bump.png", 0x9f1ba0944f4ca75dull},
         {"spec.jpg", 0x528cb4acb830f19eull}});

    // All six maps, every format, clouds kept apart, alpha-compositing form.
    ExpectPinnedMaps(
        "GroundAutoCreate True\r\n"
        "CloudAutoCreate True\r\n"
        "GroundMixtureMode Norm\r\n"
        "CoastLevel 30\r\n"
        "NumberOfCraters 3\r\n"
        "CloudQuantity 20\r\n"
        "CloudTransparency 25\r\n"
        "OutputTransparencyMode AlphaMap\r\n"
        "RandomSeed 77\r\n"
        "OutputResolutionX 40\r\n"
        "OutputResolutionY 20\r\n"
        "OutputColorMap color.png\r\n"
        "OutputBumpMap bump.bmp\r\n"
        "OutputSpeculerMap spec.png\r\n"
        "OutputCloudColorMap cloud.jpg\r\n"
        "OutputCloudBumpMap cloudbump.png\r\n"
        "OutputCloudTransparencyMap cloudtra.bmp\r\n",
        {{"color.png", 0x26ee39e1299e1cddull},
         {"bump.bmp", 0xc0f0d8d61ede230full},
         {"spec.png", 0xfa1c82b67c81e08aull},
         {"cloud.jpg", 0x7bc8ce65a5143698ull},
         {"cloudbump.png", 0x201ca150470eaf28ull},
         {"cloudtra.bmp", 0x22c3a89f6e0878d2ull}});
}

}  // namespace globeforge
