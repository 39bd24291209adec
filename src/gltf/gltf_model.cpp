#include "gltf/gltf_model.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace globeforge {

namespace {

// Appends data to the model's one buffer as a buffer view of its own, 4-byte aligned as
// vertex attributes need; target 0 for an image.
int AddView(tinygltf::Model& model, const void* data, size_t bytes, int target) {
    std::vector<unsigned char>& buffer = model.buffers[0].data;
    buffer.resize((buffer.size() + 3) / 4 * 4, 0);
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = buffer.size();
    view.byteLength = bytes;
    view.target = target;
    const auto* first = static_cast<const unsigned char*>(data);
    buffer.insert(buffer.end(), first, first + bytes);
    model.bufferViews.push_back(std::move(view));
    return static_cast<int>(model.bufferViews.size() - 1);
}

// An accessor over a vector of N-float elements, with the bounds glTF asks of positions.
template <size_t N>
int AddFloatAccessor(tinygltf::Model& model, const std::vector<std::array<float, N>>& values,
                     int type, bool bounds) {
    tinygltf::Accessor accessor;
    accessor.bufferView = AddView(model, values.data(), values.size() * sizeof(values[0]),
                                  TINYGLTF_TARGET_ARRAY_BUFFER);
    accessor.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
    accessor.type = type;
    accessor.count = values.size();
    if (bounds) {
        std::array<float, N> lo, hi;
        lo.fill(std::numeric_limits<float>::max());
        hi.fill(std::numeric_limits<float>::lowest());
        for (const auto& v : values) {
            for (size_t i = 0; i < N; ++i) {
                lo[i] = std::min(lo[i], v[i]);
                hi[i] = std::max(hi[i], v[i]);
            }
        }
        accessor.minValues.assign(lo.begin(), lo.end());
        accessor.maxValues.assign(hi.begin(), hi.end());
    }
    model.accessors.push_back(std::move(accessor));
    return static_cast<int>(model.accessors.size() - 1);
}

int AddIndexAccessor(tinygltf::Model& model, const std::vector<uint32_t>& indices) {
    tinygltf::Accessor accessor;
    accessor.bufferView = AddView(model, indices.data(), indices.size() * sizeof(uint32_t),
                                  TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    accessor.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    accessor.type = TINYGLTF_TYPE_SCALAR;
    accessor.count = indices.size();
    model.accessors.push_back(std::move(accessor));
    return static_cast<int>(model.accessors.size() - 1);
}

// A texture over the one sampler: the image goes into the buffer, or is named by uri.
int AddTexture(tinygltf::Model& model, EncodedTexture& texture, const std::string& name,
               const std::string& uri) {
    tinygltf::Image image;
    image.name = name;
    image.mimeType = texture.mimeType;
    if (uri.empty()) {
        image.bufferView = AddView(model, texture.bytes.data(), texture.bytes.size(), 0);
        texture.bytes = {};
    } else {
        image.uri = uri;
    }
    model.images.push_back(std::move(image));
    tinygltf::Texture t;
    t.name = name;
    t.sampler = 0;
    t.source = static_cast<int>(model.images.size() - 1);
    model.textures.push_back(std::move(t));
    return static_cast<int>(model.textures.size() - 1);
}

// A mesh of one indexed triangle primitive, placed by a node of the scene.
void AddSphereNode(tinygltf::Model& model, const std::string& name,
                   std::map<std::string, int> attributes, int indices, int material) {
    tinygltf::Primitive primitive;
    primitive.attributes = std::move(attributes);
    primitive.indices = indices;
    primitive.material = material;
    primitive.mode = TINYGLTF_MODE_TRIANGLES;
    tinygltf::Mesh mesh;
    mesh.name = name;
    mesh.primitives.push_back(std::move(primitive));
    model.meshes.push_back(std::move(mesh));
    tinygltf::Node node;
    node.name = name;
    node.mesh = static_cast<int>(model.meshes.size() - 1);
    model.nodes.push_back(std::move(node));
    model.scenes[0].nodes.push_back(static_cast<int>(model.nodes.size() - 1));
}

// The buffer's final size at most (each view padded to 4 bytes), so it is allocated once:
// growing it by doubling would briefly hold twice an 8K planet's textures.
size_t BufferBytesAtMost(const SphereMesh& ground, const SphereMesh* clouds,
                         const PlanetTextures& textures, bool embedTextures) {
    const auto bytes = [](const auto& values) { return values.size() * sizeof(values[0]) + 3; };
    size_t total = bytes(ground.positions) + bytes(ground.normals) + bytes(ground.tangents) +
                   bytes(ground.uvs) + bytes(ground.indices);
    if (clouds) total += bytes(clouds->positions);
    if (embedTextures) {
        total += bytes(textures.color.bytes) + bytes(textures.normal.bytes);
        if (textures.roughness) total += bytes(textures.roughness->bytes);
        if (textures.clouds) total += bytes(textures.clouds->bytes);
    }
    return total;
}

}  // namespace

tinygltf::Model BuildPlanetModel(const SphereMesh& ground, const SphereMesh* clouds,
                                 PlanetTextures& textures, const PlanetDocument& document) {
    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = document.generator;
    tinygltf::Value::Object extras;
    extras["settings"] = tinygltf::Value(document.settingsText);
    model.asset.extras = tinygltf::Value(std::move(extras));
    model.buffers.emplace_back();
    model.buffers[0].data.reserve(
        BufferBytesAtMost(ground, clouds, textures, document.imageUris.empty()));
    model.scenes.emplace_back();
    model.scenes[0].name = "Planet";
    model.defaultScene = 0;

    // Equirectangular maps: longitude repeats, latitude stops at the poles.
    tinygltf::Sampler sampler;
    sampler.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
    sampler.minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR_MIPMAP_LINEAR;
    sampler.wrapS = TINYGLTF_TEXTURE_WRAP_REPEAT;
    sampler.wrapT = TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE;
    model.samplers.push_back(sampler);

    // Geometry first, so the vertex data sits at the front of the buffer.
    const int position = AddFloatAccessor(model, ground.positions, TINYGLTF_TYPE_VEC3, true);
    const int normal = AddFloatAccessor(model, ground.normals, TINYGLTF_TYPE_VEC3, false);
    const int tangent = AddFloatAccessor(model, ground.tangents, TINYGLTF_TYPE_VEC4, false);
    const int uv = AddFloatAccessor(model, ground.uvs, TINYGLTF_TYPE_VEC2, false);
    const int indices = AddIndexAccessor(model, ground.indices);
    // The cloud sphere has the ground's layout: only its positions are its own.
    const int cloudPosition =
        clouds ? AddFloatAccessor(model, clouds->positions, TINYGLTF_TYPE_VEC3, true) : -1;

    size_t nextUri = 0;
    const auto uri = [&]() -> std::string {
        return document.imageUris.empty() ? std::string() : document.imageUris[nextUri++];
    };
    tinygltf::Material groundMaterial;
    groundMaterial.name = "Ground";
    tinygltf::PbrMetallicRoughness& pbr = groundMaterial.pbrMetallicRoughness;
    pbr.baseColorTexture.index = AddTexture(model, textures.color, "Ground colour", uri());
    groundMaterial.normalTexture.index =
        AddTexture(model, textures.normal, "Ground normals", uri());
    pbr.metallicFactor = 0.0;
    pbr.roughnessFactor = 1.0;
    if (textures.roughness) {
        pbr.metallicRoughnessTexture.index =
            AddTexture(model, *textures.roughness, "Ground roughness", uri());
    }
    model.materials.push_back(std::move(groundMaterial));
    AddSphereNode(
        model, "Planet",
        {{"POSITION", position}, {"NORMAL", normal}, {"TANGENT", tangent}, {"TEXCOORD_0", uv}},
        indices, 0);

    if (clouds && textures.clouds) {
        tinygltf::Material cloudMaterial;
        cloudMaterial.name = "Clouds";
        cloudMaterial.alphaMode = "BLEND";
        cloudMaterial.pbrMetallicRoughness.baseColorTexture.index =
            AddTexture(model, *textures.clouds, "Cloud colour", uri());
        cloudMaterial.pbrMetallicRoughness.metallicFactor = 0.0;
        cloudMaterial.pbrMetallicRoughness.roughnessFactor = 1.0;
        model.materials.push_back(std::move(cloudMaterial));
        AddSphereNode(model, "Clouds",
                      {{"POSITION", cloudPosition}, {"NORMAL", normal}, {"TEXCOORD_0", uv}},
                      indices, 1);
    }
    return model;
}

}  // namespace globeforge
