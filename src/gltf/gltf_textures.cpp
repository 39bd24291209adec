#include "gltf/gltf_textures.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "image/bitmap24.h"
#include "image/image_files.h"
#include "image/png_file.h"
#include "image/sphere_slopes.h"

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

// The map at its texture size: itself when it fits under the cap, otherwise averaged down
// into storage. Null when memory runs out.
const FloatImage* Capped(const std::optional<FloatImage>& map, int32_t maxSide,
                         std::optional<FloatImage>& storage) {
    const TextureSize size = CappedSize(map->Width, map->Height, maxSide);
    if (size.width == map->Width && size.height == map->Height) return &*map;
    storage = AverageDown(*map, size.width, size.height);
    return storage ? &*storage : nullptr;
}

bool Present(const std::optional<FloatImage>& map) {
    return map && map->Width > 0 && map->Height > 0;
}

// The built map at its texture size, and bitmap (when given) sized to it; null with error
// set to missing when the map was not built, to noMemory when memory runs out.
const FloatImage* TextureSource(const std::optional<FloatImage>& map, const TextureJob& job,
                                const char* missing, const char* noMemory,
                                std::optional<FloatImage>& storage, Bitmap24* bitmap,
                                std::string& error) {
    if (!Present(map)) {
        error = missing;
        return nullptr;
    }
    const FloatImage* image = Capped(map, job.maxSide, storage);
    if (!image || (bitmap && !SetBitmapSize(*bitmap, image->Width, image->Height))) {
        error = noMemory;
        return nullptr;
    }
    return image;
}

bool EncodeBitmap(const Bitmap24& bitmap, const TextureJob& job, EncodedTexture& out,
                  std::string& error) {
    PngWriteOptions png;
    png.Threads = job.threads;
    out.mimeType = "image/png";
    out.width = bitmap.Width;
    out.height = bitmap.Height;
    return EncodePng(bitmap, out.bytes, png, &error);
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

uint8_t Byte(float v) {
    return static_cast<uint8_t>(std::nearbyint(std::clamp(v, 0.0f, 255.0f)));
}

// A normal as the bytes of a pixel (blue, green, red), each component from -1 .. 1 to
// 0 .. 255 after the vector is made unit length.
void EncodeUnit(double nx, double ny, double nz, uint8_t* bgr) {
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (!(length > 0)) {
        nx = ny = 0;
        nz = 1;
    }
    const double scale = length > 0 ? length : 1.0;
    const auto encode = [scale](double n) {
        return Byte(static_cast<float>((n / scale + 1.0) * 127.5));
    };
    bgr[0] = encode(nz);
    bgr[1] = encode(ny);
    bgr[2] = encode(nx);
}

// Normals from heights by the normal map's own slope rule, at the texture's size.
void NormalsFromBump(const FloatImage& bump, int32_t strength, Bitmap24& out) {
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
                            EncodeUnit(-east, -north, 1.0, out.Row(y) + 3 * x);
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
    std::optional<FloatImage> storage;
    const FloatImage* color =
        TextureSource(params.ColorMapImage, job, "the colour map was not built",
                      "not enough memory for the colour texture", storage, nullptr, error);
    if (!color) return false;
    return Encode(*color, IsJpegFileName(params.OutputColorMap), job, out, error);
}

bool EncodeNormals(const RenderParams& params, const TextureJob& job, EncodedTexture& out,
                   std::string& error) {
    const bool fromNormalMap = Present(params.NormalMapImage);
    std::optional<FloatImage> storage;
    Bitmap24 normals;
    const FloatImage* image =
        TextureSource(fromNormalMap ? params.NormalMapImage : params.BumpMapImage, job,
                      "neither the bump map nor the normal map was built",
                      "not enough memory for the normal texture", storage, &normals, error);
    if (!image) return false;
    if (fromNormalMap) {
        // Averaged normals are shorter than one: back to unit length.
        const auto decode = [](float c) { return static_cast<double>(c) / 127.5 - 1.0; };
        for (int32_t y = 0; y < image->Height; ++y) {
            const FloatPixel* p = image->Row(y);
            for (int32_t x = 0; x < image->Width; ++x) {
                EncodeUnit(decode(p[x].R), decode(p[x].G), decode(p[x].B), normals.Row(y) + 3 * x);
            }
        }
    } else {
        NormalsFromBump(*image, params.NormalStrength, normals);
    }
    return EncodeBitmap(normals, job, out, error);
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
    std::optional<FloatImage> storage;
    Bitmap24 bitmap;
    const FloatImage* image =
        TextureSource(params.SpecularMapImage, job, "the specular map was not built",
                      "not enough memory for the roughness texture", storage, &bitmap, error);
    if (!image) return false;
    // Roughness in green, metallic (blue) 0; red is not read.
    for (int32_t y = 0; y < image->Height; ++y) {
        const FloatPixel* p = image->Row(y);
        uint8_t* q = bitmap.Row(y);
        for (int32_t x = 0; x < image->Width; ++x, q += 3) {
            q[0] = 0;
            q[1] = Byte(255.0f * RoughnessOfSpecular(p[x].R));
            q[2] = 255;
        }
    }
    return EncodeBitmap(bitmap, job, out, error);
}

bool EncodeClouds(const RenderParams& params, const TextureJob& job, EncodedTexture& out,
                  std::string& error) {
    if (!Present(params.CloudColorMapImage) || !Present(params.CloudTransparencyMapImage)) {
        error = "no cloud layer was built";
        return false;
    }
    std::optional<FloatImage> colorStorage, transparencyStorage;
    const FloatImage* color = Capped(params.CloudColorMapImage, job.maxSide, colorStorage);
    // The transparency lined up with the colour pixel for pixel.
    const FloatImage* transparency = nullptr;
    if (color) {
        const FloatImage& t = *params.CloudTransparencyMapImage;
        if (t.Width == color->Width && t.Height == color->Height) {
            transparency = &t;
        } else if ((transparencyStorage = AverageDown(t, color->Width, color->Height))) {
            transparency = &*transparencyStorage;
        }
    }
    std::vector<uint8_t> rgba;
    try {
        if (transparency) rgba.resize(static_cast<size_t>(color->Width) * color->Height * 4);
    } catch (const std::bad_alloc&) {
        transparency = nullptr;
    }
    if (!transparency) {
        error = "not enough memory for the cloud texture";
        return false;
    }
    const bool alphaMaps = params.OutputTransparencyMode;
    uint8_t* q = rgba.data();
    for (int32_t y = 0; y < color->Height; ++y) {
        const FloatPixel* c = color->Row(y);
        const FloatPixel* tr = transparency->Row(y);
        for (int32_t x = 0; x < color->Width; ++x, q += 4) {
            const float t = std::clamp(tr[x].R, 0.0f, 255.0f);
            const float alpha = alphaMaps ? t : 255.0f - t;
            // An alpha map's colour is premultiplied by it; glTF's is not.
            const float k = alphaMaps && alpha > 0.0f ? 255.0f / alpha : 1.0f;
            q[0] = Byte(c[x].R * k);
            q[1] = Byte(c[x].G * k);
            q[2] = Byte(c[x].B * k);
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
