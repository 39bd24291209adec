// PNG files in memory, through libpng. Written files are 8-bit RGB; reading takes every
// PNG form (palette, grey, 1 to 16 bits, with or without alpha) and brings it to 24-bit
// rows, dropping alpha without compositing and scaling 16-bit samples to 8 bits. Colour
// management chunks are ignored: samples are taken as they stand.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/bitmap24.h"

namespace globeforge {

// How a PNG file is written.
struct PngWriteOptions {
    int32_t CompressionLevel = 6;  // zlib level, 0 (none) to 9 (smallest)
};

bool EncodePng(const Bitmap24& bitmap, std::vector<uint8_t>& out,
               const PngWriteOptions& options = {}, std::string* error = nullptr);

// False, with bitmap unchanged, for anything but a complete PNG of at most 65535 x 65535
// pixels whose image data the file can actually hold.
bool DecodePng(std::span<const uint8_t> bytes, Bitmap24& bitmap, std::string* error = nullptr);

}  // namespace globeforge
