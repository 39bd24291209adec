// Planets for the glTF export tests and reading an exported asset back.
#pragma once

#include <gtest/gtest.h>
#include <tiny_gltf.h>

#include <string>

#include "core/render_params.h"
#include "image/bitmap24.h"
#include "image/jpeg_file.h"
#include "image/png_file.h"
#include "render/render_planet.h"

namespace globeforge::testing {

// A small rendered planet with ground, sea, ice and clouds; kept apart names a cloud map
// (never saved), so the clouds are not baked into the ground maps.
inline RenderParams RenderedPlanet(int32_t w, int32_t h, bool cloudsApart) {
    RenderParams params;
    params.OutputResolutionX = w;
    params.OutputResolutionY = h;
    params.GroundAutoCreate = true;
    params.CloudAutoCreate = true;
    params.CoastLevel = 45;
    params.IceQuantity = 10;
    if (cloudsApart) params.OutputCloudColorMap = "unsaved.png";
    params.BuildGlobeMaps = true;
    params.SettingsText = "RandomSeed 65536\nOutputResolutionX " + std::to_string(w) + "\n";
    RenderContext ctx;
    EXPECT_TRUE(RenderPlanet(params, ctx)) << ctx.failure;
    return params;
}

// The maps of a planet filled with flat values, for sizes too large to render in a test.
inline RenderParams FilledPlanet(int32_t w, int32_t h) {
    RenderParams params;
    params.OutputResolutionX = w;
    params.OutputResolutionY = h;
    params.ColorMapImage = NewFilledImage(w, h, {40, 90, 200, 255});
    params.BumpMapImage = NewFilledImage(w, h, {128, 128, 128, 255});
    params.SpecularMapImage = NewFilledImage(w, h, {255, 255, 255, 255});
    params.SettingsText = "OutputResolutionX " + std::to_string(w) + "\n";
    return params;
}

// Images stay undecoded in the buffer: ImageOf decodes them with the program's codecs.
inline bool KeepImageBytes(tinygltf::Image*, const int, std::string*, std::string*, int, int,
                           const unsigned char*, int, void*) {
    return true;
}

inline bool LoadGlb(const std::string& path, tinygltf::Model& model) {
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(KeepImageBytes, nullptr);
    std::string err, warn;
    const bool ok = loader.LoadBinaryFromFile(&model, &err, &warn, path);
    EXPECT_TRUE(ok) << err;
    return ok;
}

// The picture of an image embedded in the buffer.
inline Bitmap24 ImageOf(const tinygltf::Model& model, int image) {
    const tinygltf::Image& im = model.images[static_cast<size_t>(image)];
    const tinygltf::BufferView& view = model.bufferViews[static_cast<size_t>(im.bufferView)];
    const std::vector<unsigned char>& data = model.buffers[static_cast<size_t>(view.buffer)].data;
    const std::span<const uint8_t> bytes(data.data() + view.byteOffset, view.byteLength);
    Bitmap24 bitmap;
    const bool ok =
        im.mimeType == "image/jpeg" ? DecodeJpeg(bytes, bitmap) : DecodePng(bytes, bitmap);
    EXPECT_TRUE(ok) << im.name;
    return bitmap;
}

inline Bitmap24 TextureOf(const tinygltf::Model& model, int texture) {
    return ImageOf(model, model.textures[static_cast<size_t>(texture)].source);
}

}  // namespace globeforge::testing
