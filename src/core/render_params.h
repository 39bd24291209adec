// Every input of one render, named after the settings-file keys, plus the brush image of
// the running render and the six finished maps it carries back.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "image/float_image.h"

namespace globeforge {

// The mixture-mode fields hold these values and are passed to the blends unchanged.
inline constexpr uint8_t kMixAdd = 0;
inline constexpr uint8_t kMixSub = 1;
inline constexpr uint8_t kMixNorm = 2;

inline constexpr FloatPixel MakeColor(float r, float g, float b) {
    return {r, g, b, 255.0f};
}

struct RenderParams {
    int32_t RandomSeed = 65536;
    int32_t OutputResolutionX = 512;
    int32_t OutputResolutionY = 512;
    int32_t OverSampling = 1;
    std::string LoadHeightmap;
    bool GroundAutoCreate = false;
    FloatPixel GroundColorHigh = MakeColor(128, 0, 0);
    FloatPixel GroundColorLow = MakeColor(255, 238, 204);
    int32_t GroundContr = 100;
    int32_t GroundXWarp = 1;
    int32_t GroundYWarp = 1;
    FloatPixel SeaColorShallow = MakeColor(0, 0, 255);
    FloatPixel SeaColorDeep = MakeColor(0, 0, 128);
    int32_t CoastLevel = 0;
    FloatPixel IceColor = MakeColor(255, 255, 255);
    int32_t IceQuantity = 0;
    int32_t NumberOfCraters = 0;
    int32_t CraterBasicRadius = 10;
    int32_t CraterHeight = 100;
    int32_t CraterWarp = 50;
    int32_t CraterNoise = 100;
    uint8_t GroundMixtureMode = kMixAdd;
    int32_t GroundTransparency = 0;
    std::string LoadCloudAlpha;
    bool CloudAlphaReverse = false;
    uint8_t CloudAlphaMixtureMode = kMixNorm;  // carried and stored only
    int32_t CloudAlphaTransparency = 0;        // carried and stored only
    bool CloudAutoCreate = false;
    FloatPixel CloudDarkColor = MakeColor(255, 255, 255);
    FloatPixel CloudLightColor = MakeColor(192, 192, 192);
    int32_t CloudQuantity = 1;
    int32_t CloudXWarp = 1;
    int32_t CloudYWarp = 1;
    uint8_t CloudMixtureMode = kMixNorm;
    int32_t CloudTransparency = 0;
    bool OutputTransparencyMode = false;  // false: for transparency mapping, true: alpha maps

    // The half-size brush of the running render: set and released by RenderPlanet, drawn
    // into by the ground and cloud generators. A pointer, so a generator that only reads the
    // parameters may still redraw the brush.
    std::unique_ptr<FloatImage> WorkImage;

    // Output file names, in the order the result images follow; empty = not built.
    std::string OutputColorMap;
    std::string OutputSpeculerMap;
    std::string OutputBumpMap;
    std::string OutputCloudColorMap;
    std::string OutputCloudBumpMap;
    std::string OutputCloudTransparencyMap;

    // The built maps, owned by the record until the next render.
    std::optional<FloatImage> ColorMapImage;
    std::optional<FloatImage> SpecularMapImage;
    std::optional<FloatImage> BumpMapImage;
    std::optional<FloatImage> CloudColorMapImage;
    std::optional<FloatImage> CloudBumpMapImage;
    std::optional<FloatImage> CloudTransparencyMapImage;

    // Extended outputs for 3D work: the depth of PNG bump maps (8 or 16), the tangent-space
    // normal map (empty name = not built) and its strength (1..100).
    int32_t HeightBitDepth = 8;
    std::string OutputNormalMap;
    int32_t NormalStrength = 20;
    std::optional<FloatImage> NormalMapImage;
    // Every named map is also written as the six faces of a cube map.
    bool CubeMapFaces = false;
    // The settings-file text these parameters came from; every map written carries it.
    std::string SettingsText;
    // Also build, in memory, the maps a globe is drawn from (colour, bump, specular, and the
    // cloud colour and transparency maps when the clouds are not baked into the ground) even
    // when no output name asks for them. Only named maps are ever saved.
    bool BuildGlobeMaps = false;
};

// The seven maps a render can build: every list of maps (saving, the window's buttons, the
// command line's names, the batch's planet folders, the settings) walks this table.
enum class MapKind : uint8_t {
    Color,
    Specular,
    Bump,
    CloudColor,
    CloudBump,
    CloudTransparency,
    Normal
};

struct MapSlot {
    MapKind kind;
    const char* settingsKey;                         // the settings key of the output name
    const char* role;                                // in file names: "cloud_bump"
    std::string RenderParams::*name;                 // the output name; empty = not saved
    std::optional<FloatImage> RenderParams::*image;  // the built map
    bool heightMap;                                  // holds heights: written as a bump map
    bool cloud;                                      // built only with a cloud layer
};

// In the order the maps are written.
inline constexpr std::array<MapSlot, 7> kMapSlots = {{
    {MapKind::Color, "OutputColorMap", "color", &RenderParams::OutputColorMap,
     &RenderParams::ColorMapImage, false, false},
    {MapKind::Specular, "OutputSpeculerMap", "specular", &RenderParams::OutputSpeculerMap,
     &RenderParams::SpecularMapImage, false, false},
    {MapKind::Bump, "OutputBumpMap", "bump", &RenderParams::OutputBumpMap,
     &RenderParams::BumpMapImage, true, false},
    {MapKind::CloudColor, "OutputCloudColorMap", "cloud_color", &RenderParams::OutputCloudColorMap,
     &RenderParams::CloudColorMapImage, false, true},
    {MapKind::CloudBump, "OutputCloudBumpMap", "cloud_bump", &RenderParams::OutputCloudBumpMap,
     &RenderParams::CloudBumpMapImage, true, true},
    {MapKind::CloudTransparency, "OutputCloudTransparencyMap", "cloud_transparency",
     &RenderParams::OutputCloudTransparencyMap, &RenderParams::CloudTransparencyMapImage, false,
     true},
    {MapKind::Normal, "OutputNormalMap", "normal", &RenderParams::OutputNormalMap,
     &RenderParams::NormalMapImage, false, false},
}};

inline constexpr const MapSlot& SlotOf(MapKind kind) {
    return kMapSlots[static_cast<size_t>(kind)];
}

// Releases the result images.
void FreeRenderMaps(RenderParams& params);

// True exactly when no cloud map is requested: the clouds are then baked into the ground
// maps.
bool MixCloudsIntoGround(const RenderParams& params);

}  // namespace globeforge
