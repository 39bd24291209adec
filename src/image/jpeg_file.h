// JPEG files in memory, through libjpeg. Written files are colour JFIF files at a given
// quality factor; reading takes colour and greyscale files, baseline or progressive, and
// yields 24-bit rows. A truncated or damaged file is refused rather than half-decoded.
// The library never prints and never ends the process: its errors become false.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/bitmap24.h"

namespace globeforge {

// quality goes to the encoder as it is; the library limits it to 1..100.
bool EncodeJpeg(const Bitmap24& bitmap, int32_t quality, std::vector<uint8_t>& out,
                std::string* error = nullptr);

// False, with bitmap unchanged, for a file that is not a complete colour or greyscale
// JPEG file (CMYK files are refused).
bool DecodeJpeg(std::span<const uint8_t> bytes, Bitmap24& bitmap, std::string* error = nullptr);

}  // namespace globeforge
