#include "gltf/gltf_export.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <utility>
#include <vector>

#include "core/version.h"
#include "gltf/gltf_model.h"
#include "image/atomic_file.h"
#include "image/image_files.h"

namespace globeforge {

namespace {

enum class Container { None, Glb, Gltf };

Container ContainerOf(const std::string& path) {
    const std::string ext = FileExtension(path);
    if (ext == ".glb") return Container::Glb;
    if (ext == ".gltf") return Container::Gltf;
    return Container::None;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A file name as a relative URI: every byte but the unreserved ones percent-encoded.
std::string UriOf(const std::string& name) {
    static const char* kHex = "0123456789ABCDEF";
    std::string uri;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            uri += ch;
        } else {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 15];
        }
    }
    return uri;
}

// JSON holds UTF-8 only; a settings file may name a file in another encoding: its stray
// bytes become U+FFFD.
std::string AsUtf8(const std::string& text) {
    const std::string quoted =
        nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return nlohmann::json::parse(quoted).get<std::string>();
}

bool Fail(std::string* error, std::string why) {
    if (error) *error = std::move(why);
    return false;
}

// Encodes the textures one after another, each with every thread: side by side, the
// full-size rasters of an 8K planet would all be held at once on top of the render's maps.
// With release (the same record as params), each map is freed once its texture is made.
// False with the failure's reason.
bool EncodeTextures(const RenderParams& params, RenderParams* release, const GltfOptions& options,
                    bool clouds, PlanetTextures& textures, std::string& error) {
    const TextureJob job{options.maxTexture, std::max(1, options.threads)};
    const bool roughness = params.SpecularMapImage && params.SpecularMapImage->Width > 0 &&
                           params.SpecularMapImage->Height > 0;
    const auto done =
        [release](std::initializer_list<std::optional<FloatImage> RenderParams::*> maps) {
            if (release) {
                for (const auto map : maps) (release->*map).reset();
            }
        };
    try {
        if (!EncodeBaseColor(params, job, textures.color, error)) return false;
        done({&RenderParams::ColorMapImage});
        if (!EncodeNormals(params, job, textures.normal, error)) return false;
        done({&RenderParams::NormalMapImage, &RenderParams::BumpMapImage});
        if (roughness && !EncodeRoughness(params, job, textures.roughness.emplace(), error)) {
            return false;
        }
        done({&RenderParams::SpecularMapImage});
        if (clouds && !EncodeClouds(params, job, textures.clouds.emplace(), error)) return false;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
    return true;
}

// An output stream's buffer that hands full buffers to a file's sink, so the container is
// written as tinygltf makes it rather than assembled in memory first.
class SinkBuffer : public std::streambuf {
  public:
    explicit SinkBuffer(const ByteSink& sink) : sink_(sink), buffer_(size_t{1} << 20) {
        setp(buffer_.data(), buffer_.data() + buffer_.size());
    }
    bool Flush() {
        const auto* first = reinterpret_cast<const uint8_t*>(pbase());
        const size_t count = static_cast<size_t>(pptr() - pbase());
        setp(buffer_.data(), buffer_.data() + buffer_.size());
        ok_ = ok_ && (count == 0 || sink_({first, count}));
        return ok_;
    }

  protected:
    int_type overflow(int_type ch) override {
        if (!Flush()) return traits_type::eof();
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        // Large pieces (the binary chunk) go straight through.
        if (n >= static_cast<std::streamsize>(buffer_.size())) {
            if (!Flush() || !sink_({reinterpret_cast<const uint8_t*>(s), static_cast<size_t>(n)})) {
                ok_ = false;
                return 0;
            }
            return n;
        }
        return std::streambuf::xsputn(s, n);
    }
    int sync() override { return Flush() ? 0 : -1; }

  private:
    const ByteSink& sink_;
    std::vector<char> buffer_;
    bool ok_ = true;
};

// The side files of a .gltf, in the order of PlanetDocument::imageUris.
std::vector<std::pair<std::string, EncodedTexture*>> SideTextures(const std::string& stem,
                                                                  PlanetTextures& textures) {
    std::vector<std::pair<std::string, EncodedTexture*>> files;
    const bool jpeg = textures.color.mimeType == "image/jpeg";
    files.emplace_back(stem + (jpeg ? "_color.jpg" : "_color.png"), &textures.color);
    files.emplace_back(stem + "_normal.png", &textures.normal);
    if (textures.roughness) files.emplace_back(stem + "_roughness.png", &*textures.roughness);
    if (textures.clouds) files.emplace_back(stem + "_clouds.png", &*textures.clouds);
    return files;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes the files in order; on a failure removes those among them that did not exist
// before, so no export is left half done.
bool WriteAll(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files,
              std::string* error) {
    std::vector<std::string> created;
    for (const auto& [name, bytes] : files) {
        struct stat st;
        const bool existed = stat(name.c_str(), &st) == 0;
        std::string why;
        if (!WriteFileAtomically(name, bytes, &why)) {
            for (const std::string& file : created) std::remove(file.c_str());
            return Fail(error, name + ": " + why);
        }
        if (!existed) created.push_back(name);
    }
    return true;
}

}  // namespace

std::optional<std::string> CheckGltfOptions(const GltfOptions& options, const std::string& path) {
    if (options.segments &&
        (*options.segments < kMinSphereSegments || *options.segments > kMaxSphereSegments)) {
        return "the glTF segment count must be " + std::to_string(kMinSphereSegments) + " to " +
               std::to_string(kMaxSphereSegments) + ", not " + std::to_string(*options.segments);
    }
    if (options.maxTexture < kMinGltfTexture || options.maxTexture > kMaxGltfTexture) {
        return "the glTF texture size cap must be " + std::to_string(kMinGltfTexture) + " to " +
               std::to_string(kMaxGltfTexture) + ", not " + std::to_string(options.maxTexture);
    }
    if (!std::isfinite(options.radius) || options.radius <= 0) {
        return std::string("the glTF radius must be a positive number");
    }
    if (!std::isfinite(options.cloudRadius) || options.cloudRadius <= options.radius) {
        return std::string("the glTF cloud radius must be larger than the planet's radius");
    }
    if (ContainerOf(path) == Container::None) {
        return "the glTF file name must end in .glb or .gltf: " + path;
    }
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return "cannot write the glTF file " + path + ": it is a folder";
    }
    const std::string folder = FolderOf(path);
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return "cannot write the glTF file " + path + ": the folder " + folder + " does not exist";
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        return "cannot write the glTF file " + path + ": " + std::strerror(errno);
    }
    return std::nullopt;
}

bool ExportsCloudLayer(const RenderParams& params) {
    const auto present = [](const std::optional<FloatImage>& map) {
        return map && map->Width > 0 && map->Height > 0;
    };
    return !MixCloudsIntoGround(params) && present(params.CloudColorMapImage) &&
           present(params.CloudTransparencyMapImage);
}

namespace {

bool Export(const RenderParams& params, RenderParams* release, const std::string& path,
            const GltfOptions& options, std::string* error) {
    if (std::optional<std::string> problem = CheckGltfOptions(options, path)) {
        return Fail(error, std::move(*problem));
    }
    if (!params.ColorMapImage || params.ColorMapImage->Width <= 0) {
        return Fail(error, "the glTF export needs the colour map: none was built");
    }
    const bool clouds = ExportsCloudLayer(params);
    // Read before the maps may go.
    const int32_t segments =
        options.segments.value_or(SphereSegmentsForMap(params.ColorMapImage->Width));
    if (release) {
        release->CloudBumpMapImage.reset();
        if (release->NormalMapImage) release->BumpMapImage.reset();
        if (!clouds) {
            release->CloudColorMapImage.reset();
            release->CloudTransparencyMapImage.reset();
        }
    }
    PlanetTextures textures;
    std::string why;
    if (!EncodeTextures(params, release, options, clouds, textures, why)) {
        return Fail(error, why);
    }

    const SphereMesh ground = BuildSphereMesh(options.radius, segments);
    std::optional<SphereMesh> cloudMesh;
    if (clouds) cloudMesh = BuildSphereMesh(options.cloudRadius, segments);

    const bool glb = ContainerOf(path) == Container::Glb;
    const std::string stem = path.substr(0, path.find_last_of('.'));
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    PlanetDocument document;
    document.generator = std::string(kProductName) + " " + kVersionText;
    if (!glb) {
        for (const auto& [name, texture] : SideTextures(stem, textures)) {
            document.imageUris.push_back(UriOf(BaseName(name)));
            files.emplace_back(name, std::move(texture->bytes));
        }
    }
    try {
        document.settingsText = AsUtf8(params.SettingsText);
        const tinygltf::Model model =
            BuildPlanetModel(ground, cloudMesh ? &*cloudMesh : nullptr, textures, document);
        tinygltf::TinyGLTF writer;
        if (glb) {
            why.clear();
            const bool ok = WriteFileAtomically(
                path,
                [&](const ByteSink& sink) {
                    SinkBuffer buffer(sink);
                    std::ostream stream(&buffer);
                    const bool written = writer.WriteGltfSceneToStream(&model, stream, false, true);
                    return buffer.Flush() && written;
                },
                &why);
            if (ok) return true;
            return Fail(error,
                        why.empty() ? "the glTF document could not be written" : path + ": " + why);
        }
        std::ostringstream stream;
        if (!writer.WriteGltfSceneToStream(&model, stream, true, false)) {
            return Fail(error, "the glTF document could not be written");
        }
        // tinygltf puts a stream's buffer inline; a .gltf keeps it in a file beside it.
        const std::string binName = stem + ".bin";
        const std::vector<unsigned char>& data = model.buffers[0].data;
        files.emplace_back(binName, std::vector<uint8_t>(data.begin(), data.end()));
        nlohmann::json json = nlohmann::json::parse(stream.str());
        json["buffers"][0]["uri"] = UriOf(BaseName(binName));
        const std::string text = json.dump(2) + "\n";
        files.emplace_back(path, std::vector<uint8_t>(text.begin(), text.end()));
    } catch (const std::exception& e) {
        return Fail(error, std::string("the glTF document could not be made: ") + e.what());
    }
    return WriteAll(files, error);
}

}  // namespace

bool ExportGltf(const RenderParams& params, const std::string& path, const GltfOptions& options,
                std::string* error) {
    return Export(params, nullptr, path, options, error);
}

bool ExportGltfReleasingMaps(RenderParams& params, const std::string& path,
                             const GltfOptions& options, std::string* error) {
    const bool written = Export(params, &params, path, options, error);
    FreeRenderMaps(params);
    return written;
}

}  // namespace globeforge
