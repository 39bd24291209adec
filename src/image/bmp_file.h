// Windows BMP files in memory. Written files are the plain 24-bit form every reader knows
// (BITMAPINFOHEADER, no compression, bottom-up rows padded to 4 bytes). Reading also takes
// the forms other programs write: 1, 4 and 8-bit palette files, 16 and 32-bit files (plain
// or with bit masks), top-down rows, and the core, V4 and V5 headers. Compressed files
// (RLE, embedded JPEG or PNG) are refused.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/bitmap24.h"

namespace globeforge {

// Sizes a BMP header may claim; anything larger is refused before memory is touched.
inline constexpr int32_t kMaxBmpSide = 65535;

// out receives the whole file. False for an empty bitmap or one too large for the format.
bool EncodeBmp(const Bitmap24& bitmap, std::vector<uint8_t>& out, std::string* error = nullptr);

// False, with bitmap unchanged, for anything but a complete, supported BMP file. A pixel
// whose palette index lies beyond the file's palette makes the file refused.
bool DecodeBmp(std::span<const uint8_t> bytes, Bitmap24& bitmap, std::string* error = nullptr);

}  // namespace globeforge
