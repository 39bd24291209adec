// Image files: a FloatImage to and from BMP, JPEG and PNG files. The format follows the
// name's extension (.jpg/.jpeg/.jpe: JPEG, .png: PNG, anything else: BMP); a loader whose
// file does not match its name recognises the format from the first bytes. Files are
// written to a temporary name and renamed into place, so a failed save leaves any existing
// file untouched. Nothing here throws or prints.
#pragma once

#include <cstdint>
#include <string>

#include "image/bitmap24.h"
#include "image/float_image.h"

namespace globeforge {

// Loads a picture; the image takes the picture's size with A = 255. False (image
// unchanged) for a missing, unreadable or corrupt file.
// error, when given, receives a short reason on failure.
bool LoadImageFile(FloatImage& image, const std::string& fileName, std::string* error = nullptr);

// Writes the image with 8 bits per colour channel (floats clamped, rounded half to even),
// no alpha. False on any failure.
bool SaveImageFile(const FloatImage& image, const std::string& fileName,
                   std::string* error = nullptr);

// The same for 24-bit bitmaps: the bitmap is unchanged on failure.
bool LoadBitmapFile(Bitmap24& bitmap, const std::string& fileName, std::string* error = nullptr);
bool SaveBitmapFile(const Bitmap24& bitmap, const std::string& fileName,
                    std::string* error = nullptr);

// The quality of every JPEG written, 90 at start; the setter keeps the low 8 bits.
int32_t GetJpegQuality();
void SetJpegQuality(int32_t quality);

}  // namespace globeforge
