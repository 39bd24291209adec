// The glTF document of a planet, assembled with tinygltf from the sphere meshes and the
// encoded textures.
#pragma once

#include <tiny_gltf.h>

#include <string>
#include <vector>

#include "gltf/gltf_textures.h"
#include "gltf/sphere_mesh.h"

namespace globeforge {

struct PlanetTextures {
    EncodedTexture color, normal;
    std::optional<EncodedTexture> roughness;  // without a specular map
    std::optional<EncodedTexture> clouds;     // when the clouds are kept apart
};

// What goes into the document besides the geometry.
struct PlanetDocument {
    std::string generator;     // asset.generator
    std::string settingsText;  // asset.extras
    // Empty: the textures go into the buffer (a .glb). Otherwise the URI of each texture in
    // the order color, normal, roughness, clouds (for those present), written beside it.
    std::vector<std::string> imageUris;
};

// clouds (null when there is no cloud sphere) must have ground's segment count. The texture bytes
// are moved into the model when they are embedded.
tinygltf::Model BuildPlanetModel(const SphereMesh& ground, const SphereMesh* clouds,
                                 PlanetTextures& textures, const PlanetDocument& document);

}  // namespace globeforge
