// JPEG files in memory, through libjpeg. Written files are colour JFIF files at a given
// quality factor, optionally with comment (COM) segments; reading takes colour and greyscale files,
// baseline or progressive, and yields 24-bit rows. A truncated or damaged file is refused rather
// than half-decoded. The library never prints and never ends the process: its errors become false.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/bitmap24.h"

namespace globeforge {

// The most a single comment segment holds.
inline constexpr size_t kMaxJpegCommentBytes = 65533;

// quality goes to the encoder as it is; the library limits it to 1..100.
bool EncodeJpeg(const Bitmap24& bitmap, int32_t quality, std::vector<uint8_t>& out,
                std::string* error = nullptr);

// The same with one comment segment per entry, after the JFIF header. False for a comment
// longer than kMaxJpegCommentBytes.
bool EncodeJpeg(const Bitmap24& bitmap, int32_t quality, const std::vector<std::string>& comments,
                std::vector<uint8_t>& out, std::string* error = nullptr);

// The comment segments before the image data, in file order. False, with comments unchanged,
// when the file does not begin like a JPEG file.
bool ReadJpegComments(std::span<const uint8_t> bytes, std::vector<std::string>& comments,
                      std::string* error = nullptr);

// False, with bitmap unchanged, for a file that is not a complete colour or greyscale
// JPEG file (CMYK files are refused).
bool DecodeJpeg(std::span<const uint8_t> bytes, Bitmap24& bitmap, std::string* error = nullptr);

}  // namespace globeforge
