#include "gltf/gltf_textures.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "image/image_files.h"
#include "image/png_file.h"
#include "output/normal_map.h"

namespace globeforge {

namespace {

// The source pixels one output pixel of an axis covers and the share each has of it.
struct Footprint {
    int32_t first = 0;
    std::vector<double> weights;
};

std::vector<Footprint> Footprints(int32_t from, int32_t to) {
    std::vector<Footprint> out(static_cast<size_t>(to));
    const double scale = static_cast<double>(from) / to;
    for (int32_t j = 0; j < to; ++j) {
        const double lo = j * scale, hi = (j + 1) * scale;
        Footprint& f = out[static_cast<size_t>(j)];
        f.first = static_cast<int32_t>(std::floor(lo));
        for (int32_t k = f.first; k < from && k < hi; ++k) {
            const double overlap = std::min<double>(hi, k + 1) - std::max<double>(lo, k);
            if (overlap > 0) f.weights.push_back(overlap / scale);
        }
    }
    return out;
}

std::optional<FloatImage> Capped(const std::optional<FloatImage>& map, int32_t maxSide) {
    const TextureSize size = CappedSize(map->Width, map->Height, maxSide);
    return AverageDown(*map, size.width, size.height);
}

bool Encode(const FloatImage& image, bool jpeg, const TextureJob& job, EncodedTexture& out,
            std::string& error) {
    ImageFileOptions options;
    options.threads = job.threads;
    out.mimeType = jpeg ? "image/jpeg" : "image/png";
    out.width = image.Width;
    out.height = image.Height;
    return EncodeImageFile(image, jpeg ? "texture.jpg" : "texture.png", options, out.bytes, &error);
}

bool IsJpegName(const std::string& name) {
    const size_t dot = name.find_last_of('.');
    const size_t slash = name.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string ext = name.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".jpg" || ext == ".jpeg" || ext == ".jpe";
}

bool Present(const std::optional<FloatImage>& map) {
    return map && map->Width > 0 && map->Height > 0;
}

uint8_t Byte(float v) {
    return static_cast<uint8_t>(std::nearbyint(std::clamp(v, 0.0f, 255.0f)));
}

FloatPixel EncodeUnit(double nx, double ny, double nz) {
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (!(length > 0)) return {127.5f, 127.5f, 255.0f, 255.0f};
    const auto encode = [length](double n) {
        return static_cast<float>((n / length + 1.0) * 127.5);
    };
    return {encode(nx), encode(ny), encode(nz), 255.0f};
}

// Normals from heights by the normal map's own slope rule, at the texture's size.
void NormalsFromBump(const FloatImage& bump, int32_t strength, FloatImage& out) {
    const SlopeFrame frame = MakeSlopeFrame(
        static_cast<double>(std::clamp(strength, 1, 100)) / 100.0 * kNormalReliefAtFullStrength,
        bump.Width, bump.Height);
    std::vector<float> above, row, below;
    const auto heights = [&bump](int32_t y, std::vector<float>& to) {
        to.resize(static_cast<size_t>(bump.Width));
        for (int32_t x = 0; x < bump.Width; ++x) to[static_cast<size_t>(x)] = bump.At(x, y).R;
    };
    heights(0, row);
    for (int32_t y = 0; y < bump.Height; ++y) {
        if (y + 1 < bump.Height) heights(y + 1, below);
        ForEachRowSlope(frame, y, y > 0 ? above.data() : nullptr, row.data(),
                        y + 1 < bump.Height ? below.data() : nullptr,
                        [&](int32_t x, double east, double north) {
                            out.At(x, y) = EncodeUnit(-east, -north, 1.0);
                        });
        std::swap(above, row);
        std::swap(row, below);
    }
}

}  // namespace

TextureSize CappedSize(int32_t w, int32_t h, int32_t maxSide) {
    const int32_t longer = std::max(w, h);
    if (longer <= maxSide) return {w, h};
    const double scale = static_cast<double>(maxSide) / longer;
    return {std::max(1, static_cast<int32_t>(std::lround(w * scale))),
            std::max(1, static_cast<int32_t>(std::lround(h * scale)))};
}

std::optional<FloatImage> AverageDown(const FloatImage& map, int32_t w, int32_t h) {
    std::optional<FloatImage> out = NewImage(w, h);
    if (!out) return std::nullopt;
    if (w == map.Width && h == map.Height) {
        CopyImage(*out, map);
        return out;
    }
    try {
        const std::vector<Footprint> columns = Footprints(map.Width, w);
        const std::vector<Footprint> rows = Footprints(map.Height, h);
        std::vector<double> line(static_cast<size_t>(w) * 4);
        for (int32_t y = 0; y < h; ++y) {
            std::fill(line.begin(), line.end(), 0.0);
            const Footprint& fy = rows[static_cast<size_t>(y)];
            for (size_t k = 0; k < fy.weights.size(); ++k) {
                const FloatPixel* src = map.Row(fy.first + static_cast<int32_t>(k));
                for (int32_t x = 0; x < w; ++x) {
                    const Footprint& fx = columns[static_cast<size_t>(x)];
                    double* acc = &line[static_cast<size_t>(x) * 4];
                    for (size_t i = 0; i < fx.weights.size(); ++i) {
                        const FloatPixel& p = src[fx.first + static_cast<int32_t>(i)];
                        const double wgt = fx.weights[i] * fy.weights[k];
                        acc[0] += wgt * p.R;
                        acc[1] += wgt * p.G;
                        acc[2] += wgt * p.B;
                        acc[3] += wgt * p.A;
                    }
                }
            }
            FloatPixel* dst = out->Row(y);
            for (int32_t x = 0; x < w; ++x) {
                const double* acc = &line[static_cast<size_t>(x) * 4];
                dst[x] = {static_cast<float>(acc[0]), static_cast<float>(acc[1]),
                          static_cast<float>(acc[2]), static_cast<float>(acc[3])};
            }
        }
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    return out;
}

bool EncodeBaseColor(const RenderParams& params, const TextureJob& job, EncodedTexture& out,
                     std::string& error) {
    if (!Present(params.ColorMapImage)) {
        error = "the colour map was not built";
        return false;
    }
    const std::optional<FloatImage> color = Capped(params.ColorMapImage, job.maxSide);
    if (!color) {
        error = "not enough memory for the colour texture";
        return false;
    }
    return Encode(*color, IsJpegName(params.OutputColorMap), job, out, error);
}

bool EncodeNormals(const RenderParams& params, const TextureJob& job, EncodedTexture& out,
                   std::string& error) {
    const bool fromNormalMap = Present(params.NormalMapImage);
    if (!fromNormalMap && !Present(params.BumpMapImage)) {
        error = "neither the bump map nor the normal map was built";
        return false;
    }
    std::optional<FloatImage> image =
        Capped(fromNormalMap ? params.NormalMapImage : params.BumpMapImage, job.maxSide);
    if (!image) {
        error = "not enough memory for the normal texture";
        return false;
    }
    if (fromNormalMap) {
        // Averaged normals are shorter than one: back to unit length.
        for (int32_t y = 0; y < image->Height; ++y) {
            for (FloatPixel* p = image->Row(y); p != image->Row(y) + image->Width; ++p) {
                const auto decode = [](float c) { return static_cast<double>(c) / 127.5 - 1.0; };
                *p = EncodeUnit(decode(p->R), decode(p->G), decode(p->B));
            }
        }
    } else {
        std::optional<FloatImage> normals = NewImage(image->Width, image->Height);
        if (!normals) {
            error = "not enough memory for the normal texture";
            return false;
        }
        NormalsFromBump(*image, params.NormalStrength, *normals);
        image = std::move(normals);
    }
    return Encode(*image, false, job, out, error);
}

float RoughnessOfSpecular(float specular) {
    // A mirror-smooth sea would only reflect the void around the planet; a little roughness
    // keeps a broad sun glint like the globe view's.
    constexpr float kSeaRoughness = 0.15f;
    const float gloss = std::clamp(specular / 255.0f, 0.0f, 1.0f);
    return 1.0f - (1.0f - kSeaRoughness) * gloss;
}

bool EncodeRoughness(const RenderParams& params, const TextureJob& job, EncodedTexture& out,
                     std::string& error) {
    if (!Present(params.SpecularMapImage)) {
        error = "the specular map was not built";
        return false;
    }
    std::optional<FloatImage> image = Capped(params.SpecularMapImage, job.maxSide);
    if (!image) {
        error = "not enough memory for the roughness texture";
        return false;
    }
    for (int32_t y = 0; y < image->Height; ++y) {
        for (FloatPixel* p = image->Row(y); p != image->Row(y) + image->Width; ++p) {
            *p = {255.0f, 255.0f * RoughnessOfSpecular(p->R), 0.0f, 255.0f};
        }
    }
    return Encode(*image, false, job, out, error);
}

bool EncodeClouds(const RenderParams& params, const TextureJob& job, EncodedTexture& out,
                  std::string& error) {
    if (!Present(params.CloudColorMapImage) || !Present(params.CloudTransparencyMapImage)) {
        error = "no cloud layer was built";
        return false;
    }
    const std::optional<FloatImage> color = Capped(params.CloudColorMapImage, job.maxSide);
    if (!color) {
        error = "not enough memory for the cloud texture";
        return false;
    }
    // The transparency lined up with the colour pixel for pixel.
    const std::optional<FloatImage> transparency =
        AverageDown(*params.CloudTransparencyMapImage, color->Width, color->Height);
    if (!transparency) {
        error = "not enough memory for the cloud texture";
        return false;
    }
    const bool alphaMaps = params.OutputTransparencyMode;
    std::vector<uint8_t> rgba;
    try {
        rgba.resize(static_cast<size_t>(color->Width) * color->Height * 4);
    } catch (const std::bad_alloc&) {
        error = "not enough memory for the cloud texture";
        return false;
    }
    uint8_t* q = rgba.data();
    for (int32_t y = 0; y < color->Height; ++y) {
        for (int32_t x = 0; x < color->Width; ++x, q += 4) {
            const float t = std::clamp(transparency->At(x, y).R, 0.0f, 255.0f);
            const float alpha = alphaMaps ? t : 255.0f - t;
            FloatPixel c = color->At(x, y);
            if (alphaMaps && alpha > 0.0f) {
                const float k = 255.0f / alpha;
                c = {c.R * k, c.G * k, c.B * k, c.A};
            }
            q[0] = Byte(c.R);
            q[1] = Byte(c.G);
            q[2] = Byte(c.B);
            q[3] = Byte(alpha);
        }
    }
    PngWriteOptions png;
    png.Threads = job.threads;
    out.mimeType = "image/png";
    out.width = color->Width;
    out.height = color->Height;
    return EncodePngRgba(rgba.data(), color->Width, color->Height, out.bytes, png, &error);
}

}  // namespace globeforge
