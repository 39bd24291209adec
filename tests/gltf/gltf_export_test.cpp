#include "gltf/gltf_export.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cmath>
#include <filesystem>

#include "core/version.h"
#include "gltf/gltf_fixtures.h"
#include "gltf/gltf_textures.h"
#include "support/test_files.h"
#include "support/test_process.h"

namespace globeforge {
namespace {

using testing::ImageOf;
using testing::TextureOf;

const tinygltf::Primitive& PrimitiveOf(const tinygltf::Model& model, const std::string& node) {
    for (const tinygltf::Node& n : model.nodes) {
        if (n.name == node) return model.meshes[static_cast<size_t>(n.mesh)].primitives[0];
    }
    ADD_FAILURE() << "no node " << node;
    return model.meshes[0].primitives[0];
}

uint8_t Byte(float v) {
    return static_cast<uint8_t>(std::nearbyint(std::clamp(v, 0.0f, 255.0f)));
}

TEST(GltfExport, CloudsKeptApartGetTheirOwnSphereOverTheGround) {
    testing::ScratchDir dir;
    const RenderParams params = testing::RenderedPlanet(64, 32, true);
    ASSERT_TRUE(ExportsCloudLayer(params));
    const std::string path = (dir.path() / "planet.glb").string();
    GltfOptions options;
    options.cloudRadius = 1.02;
    std::string error;
    ASSERT_TRUE(ExportGltf(params, path, options, &error)) << error;
    tinygltf::Model model;
    ASSERT_TRUE(testing::LoadGlb(path, model));

    EXPECT_EQ(model.asset.version, "2.0");
    EXPECT_EQ(model.asset.generator, std::string("GlobeForge ") + kVersionText);
    ASSERT_TRUE(model.asset.extras.Has("settings"));
    EXPECT_EQ(model.asset.extras.Get("settings").Get<std::string>(), params.SettingsText);
    ASSERT_EQ(model.scenes.size(), 1u);
    EXPECT_EQ(model.scenes[0].nodes.size(), 2u);
    ASSERT_EQ(model.materials.size(), 2u);

    // The ground: metallic-roughness with colour, normals and roughness from the maps.
    const tinygltf::Primitive& ground = PrimitiveOf(model, "Planet");
    for (const char* attribute : {"POSITION", "NORMAL", "TANGENT", "TEXCOORD_0"}) {
        EXPECT_TRUE(ground.attributes.count(attribute)) << attribute;
    }
    const tinygltf::Material& material = model.materials[static_cast<size_t>(ground.material)];
    EXPECT_EQ(material.alphaMode, "OPAQUE");
    EXPECT_EQ(material.pbrMetallicRoughness.metallicFactor, 0.0);
    const Bitmap24 color = TextureOf(model, material.pbrMetallicRoughness.baseColorTexture.index);
    const Bitmap24 normal = TextureOf(model, material.normalTexture.index);
    const Bitmap24 rough =
        TextureOf(model, material.pbrMetallicRoughness.metallicRoughnessTexture.index);
    for (const Bitmap24* b : {&color, &normal, &rough}) {
        EXPECT_EQ(b->Width, 64);
        EXPECT_EQ(b->Height, 32);
    }
    double seaRough = 0, landRough = 0;
    int sea = 0, land = 0;
    for (int32_t y = 0; y < 32; ++y) {
        for (int32_t x = 0; x < 64; ++x) {
            const uint8_t* c = &color.Bytes[y * color.Stride() + 3 * x];  // blue, green, red
            const FloatPixel m = params.ColorMapImage->At(x, y);
            ASSERT_EQ(c[2], Byte(m.R));
            ASSERT_EQ(c[0], Byte(m.B));
            const uint8_t* r = &rough.Bytes[y * rough.Stride() + 3 * x];
            const float s = params.SpecularMapImage->At(x, y).R;
            ASSERT_EQ(r[1], Byte(255 * RoughnessOfSpecular(s)));  // roughness in green
            ASSERT_EQ(r[0], 0);                                   // metallic (blue) 0
            (s > 128 ? seaRough : landRough) += r[1];
            (s > 128 ? sea : land) += 1;
            const uint8_t* n = &normal.Bytes[y * normal.Stride() + 3 * x];
            const double nx = n[2] / 127.5 - 1, ny = n[1] / 127.5 - 1, nz = n[0] / 127.5 - 1;
            ASSERT_NEAR(nx * nx + ny * ny + nz * nz, 1.0, 0.03);
            ASSERT_GT(nz, 0.5);
        }
    }
    ASSERT_GT(sea, 0);
    ASSERT_GT(land, 0);
    EXPECT_LT(seaRough / sea, landRough / land);  // a glossy sea, rough land

    // The clouds: a blended sphere just above the ground.
    const tinygltf::Primitive& clouds = PrimitiveOf(model, "Clouds");
    const tinygltf::Material& cloudMaterial = model.materials[static_cast<size_t>(clouds.material)];
    EXPECT_EQ(cloudMaterial.alphaMode, "BLEND");
    const Bitmap24 cloudColor =
        TextureOf(model, cloudMaterial.pbrMetallicRoughness.baseColorTexture.index);
    EXPECT_EQ(cloudColor.Width, 64);
    const tinygltf::Accessor& position =
        model.accessors[static_cast<size_t>(clouds.attributes.at("POSITION"))];
    EXPECT_NEAR(position.maxValues[1], 1.02, 1e-6);
    const tinygltf::Accessor& groundPosition =
        model.accessors[static_cast<size_t>(ground.attributes.at("POSITION"))];
    EXPECT_NEAR(groundPosition.maxValues[1], 1.0, 1e-6);
    EXPECT_EQ(position.count, static_cast<size_t>(2 * 32 + 15 * 33));  // 32 segments at 64 wide
}

TEST(GltfExport, CloudsMixedIntoTheGroundMakeNoCloudSphere) {
    testing::ScratchDir dir;
    RenderParams params = testing::RenderedPlanet(16, 8, false);
    EXPECT_FALSE(ExportsCloudLayer(params));
    // A file name in another encoding still gives a valid document.
    params.SettingsText = "LoadHeightmap h\xe9ight.png\r\n";
    const std::string path = (dir.path() / "planet.glb").string();
    std::string error;
    ASSERT_TRUE(ExportGltf(params, path, {}, &error)) << error;
    tinygltf::Model model;
    ASSERT_TRUE(testing::LoadGlb(path, model));
    EXPECT_EQ(model.meshes.size(), 1u);
    EXPECT_EQ(model.materials.size(), 1u);
    EXPECT_EQ(model.images.size(), 3u);
    EXPECT_EQ(model.asset.extras.Get("settings").Get<std::string>(),
              "LoadHeightmap h\xef\xbf\xbdight.png\r\n");
}

TEST(GltfExport, CapSegmentsAndJpegColour) {
    testing::ScratchDir dir;
    RenderParams params = testing::FilledPlanet(300, 150);
    params.OutputColorMap = "colour.JPG";
    GltfOptions options;
    options.maxTexture = 64;
    options.segments = 20;
    const std::string path = (dir.path() / "planet.glb").string();
    std::string error;
    ASSERT_TRUE(ExportGltf(params, path, options, &error)) << error;
    tinygltf::Model model;
    ASSERT_TRUE(testing::LoadGlb(path, model));
    ASSERT_EQ(model.images.size(), 3u);
    EXPECT_EQ(model.images[0].mimeType, "image/jpeg");
    for (int i = 0; i < 3; ++i) {
        const Bitmap24 image = ImageOf(model, i);
        EXPECT_EQ(image.Width, 64) << i;
        EXPECT_EQ(image.Height, 32) << i;
    }
    // A flat bump map averages to straight-up normals.
    const Bitmap24 normal = ImageOf(model, 1);
    EXPECT_EQ(normal.Bytes[0], 255);
    EXPECT_EQ(normal.Bytes[1], 128);
    const tinygltf::Accessor& position = model.accessors[static_cast<size_t>(
        model.meshes[0].primitives[0].attributes.at("POSITION"))];
    EXPECT_EQ(position.count, static_cast<size_t>(2 * 20 + 9 * 21));
}

TEST(GltfExport, AveragingDownKeepsTheMean) {
    FloatImage map = *NewImage(10, 5);
    double sum = 0;
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 10; ++x) {
            const float v = static_cast<float>((x * 7 + y * 13) % 11);
            map.At(x, y) = {v, 0, 0, 255};
            sum += v;
        }
    }
    const std::optional<FloatImage> small = AverageDown(map, 4, 2);
    ASSERT_TRUE(small);
    double smallSum = 0;
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < 4; ++x) {
            smallSum += small->At(x, y).R;
            EXPECT_FLOAT_EQ(small->At(x, y).A, 255.0f);
        }
    }
    EXPECT_NEAR(smallSum / 8, sum / 50, 1e-4);
    EXPECT_EQ(CappedSize(8192, 4096, 4096).width, 4096);
    EXPECT_EQ(CappedSize(8192, 4096, 4096).height, 2048);
    EXPECT_EQ(CappedSize(100, 50, 4096).width, 100);
}

TEST(GltfExport, GltfNameWritesItsBufferAndTexturesBeside) {
    testing::ScratchDir dir;
    const RenderParams params = testing::RenderedPlanet(32, 16, true);
    const std::string path = (dir.path() / "my planet.gltf").string();
    std::string error;
    ASSERT_TRUE(ExportGltf(params, path, {}, &error)) << error;
    for (const char* name :
         {"my planet.gltf", "my planet.bin", "my planet_color.png", "my planet_normal.png",
          "my planet_roughness.png", "my planet_clouds.png"}) {
        EXPECT_TRUE(std::filesystem::exists(dir.path() / name)) << name;
    }
    tinygltf::TinyGLTF loader;
    tinygltf::Model model;
    std::string err, warn;
    ASSERT_TRUE(loader.LoadASCIIFromFile(&model, &err, &warn, path)) << err;
    EXPECT_EQ(model.images[0].uri, "my%20planet_color.png");
    EXPECT_EQ(model.meshes.size(), 2u);
}

TEST(GltfExport, BadOptionsAndFailuresLeaveNoFile) {
    testing::ScratchDir dir;
    const std::string path = (dir.path() / "planet.glb").string();
    GltfOptions options;
    EXPECT_FALSE(CheckGltfOptions(options, path));
    const auto refused = [&](GltfOptions o, const std::string& p, const char* says) {
        const std::optional<std::string> why = CheckGltfOptions(o, p);
        ASSERT_TRUE(why) << says;
        EXPECT_NE(why->find(says), std::string::npos) << *why;
    };
    options.segments = 0;
    refused(options, path, "segment count must be 3 to 4096, not 0");
    options = {};
    options.maxTexture = 3;
    refused(options, path, "texture size cap must be 16 to 65536, not 3");
    options = {};
    options.cloudRadius = 0.99;
    refused(options, path, "cloud radius");
    refused({}, (dir.path() / "no-such-folder" / "planet.glb").string(), "does not exist");
    refused({}, (dir.path() / "planet.obj").string(), "must end in .glb or .gltf");
    refused({}, dir.path().string() + "/.", "must end in .glb or .gltf");

    // Refused options and maps that were not built write nothing.
    RenderParams params = testing::FilledPlanet(32, 16);
    options = {};
    options.segments = 0;
    std::string error;
    EXPECT_FALSE(ExportGltf(params, path, options, &error));
    params.ColorMapImage.reset();
    EXPECT_FALSE(ExportGltf(params, path, {}, &error));
    EXPECT_NE(error.find("colour map"), std::string::npos) << error;
    params = testing::FilledPlanet(32, 16);
    params.BumpMapImage.reset();
    EXPECT_FALSE(ExportGltf(params, (dir.path() / "p.gltf").string(), {}, &error));
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(GltfExport, FailedWritesLeaveNoFile) {
    testing::ScratchDir dir;
    const RenderParams params = testing::FilledPlanet(32, 16);
    // A folder its user may not write into is refused before anything is made.
    const std::filesystem::path locked = dir.path() / "locked";
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(
        dir.path(), std::filesystem::perms::owner_all | std::filesystem::perms::others_exec);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all |
                                             std::filesystem::perms::others_read |
                                             std::filesystem::perms::others_exec);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    const std::optional<bool> refused = testing::RunInChild(
        [&] {
            const std::string path = (locked / "planet.glb").string();
            const std::optional<std::string> why = CheckGltfOptions({}, path);
            std::string error;
            return why && why->find("Permission denied") != std::string::npos &&
                   !ExportGltf(params, path, {}, &error) && error == *why;
        },
        true);
    EXPECT_EQ(refused, std::optional<bool>(true));

    // A write that fails part way (here at the file size limit, as on a full disk): the
    // small textures are written, the buffer is not, and the textures go again.
    const std::string path = (dir.path() / "planet.gltf").string();
    const std::optional<bool> failed = testing::RunInChild(
        [&] {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{4096, 4096};
            setrlimit(RLIMIT_FSIZE, &limit);
            std::string error;
            return !ExportGltf(params, path, {}, &error) &&
                   error.find("planet.bin") != std::string::npos;
        },
        false);
    EXPECT_EQ(failed, std::optional<bool>(true));
    EXPECT_TRUE(std::filesystem::is_empty(locked));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace globeforge
