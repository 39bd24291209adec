// OpenEXR files in memory: 32-bit float scanline images with one channel ("Y", a single value
// such as a height) or three ("R", "G", "B"), losslessly ZIP-compressed, with string
// attributes. Nothing here throws: the library's exceptions become false and a reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/metadata_text.h"

namespace globeforge {

// Interleaved float samples, rows top first.
struct FloatRaster {
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Channels = 0;  // 1 (Y) or 3 (R, G, B)
    std::vector<float> Samples;
};

// attributes become string attributes of the header; their keys must not be names the
// format itself uses ("channels", "compression", ...).
bool EncodeExr(const FloatRaster& raster, const MetadataTexts& attributes,
               std::vector<uint8_t>& out, std::string* error = nullptr);

// One channel to write, read in place from the caller's samples: the sample of pixel (x, y)
// is base[x * xStride + y * yStride]. A yStride of 0 repeats one row; xStride must not be 0.
struct ExrChannelSource {
    const char* name;
    const float* base;
    size_t xStride;  // in floats
    size_t yStride;  // in floats
};

// Like EncodeExr, for channels that stay where they are (no interleaved copy is made).
bool EncodeExrChannels(int32_t width, int32_t height, std::span<const ExrChannelSource> channels,
                       const MetadataTexts& attributes, std::vector<uint8_t>& out,
                       std::string* error = nullptr);

// Reads the R, G and B channels, or else the Y channel, of a scanline or tiled file as
// floats, whatever their stored type. False, with raster unchanged, for anything else or
// for a picture larger than 65535 x 65535.
bool DecodeExr(std::span<const uint8_t> bytes, FloatRaster& raster, std::string* error = nullptr);

// The string attributes of the header, ordered by name.
bool ReadExrAttributes(std::span<const uint8_t> bytes, MetadataTexts& attributes,
                       std::string* error = nullptr);

// Whether the bytes begin with the OpenEXR magic number.
bool LooksLikeExr(std::span<const uint8_t> bytes);

}  // namespace globeforge
