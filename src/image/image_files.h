// Image files: a FloatImage to and from BMP, JPEG and PNG files, and to OpenEXR files. The
// format follows the name's extension (.jpg/.jpeg/.jpe: JPEG, .png: PNG, .exr: OpenEXR,
// anything else: BMP); a loader whose file does not match its name recognises the format
// from the first bytes. Maps can carry the settings that made them (their provenance), so
// any map found on disk can be rendered again. Files are written to a temporary name and
// renamed into place, so a failed save leaves any existing file untouched. Nothing here
// throws or prints.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/bitmap24.h"
#include "image/float_image.h"

namespace globeforge {

// The extension of a file name: from the last dot of the last path component, letters in lower
// case; empty when there is none.
std::string FileExtension(const std::string& fileName);
// Whether the name's extension makes a map a JPEG file.
bool IsJpegFileName(const std::string& fileName);

// Loads a picture; the image takes the picture's size with A = 255. False (image
// unchanged) for a missing, unreadable or corrupt file.
// error, when given, receives a short reason on failure.
bool LoadImageFile(FloatImage& image, const std::string& fileName, std::string* error = nullptr);

// The keys under which a map carries its provenance: a PNG text chunk (iTXt, UTF-8), a
// JPEG comment (the key, a line feed, then the value, split over several comments when
// long) or an OpenEXR string attribute.
inline constexpr const char* kSettingsTextKey = "GlobeForge-Settings";
inline constexpr const char* kProductVersionKey = "GlobeForge-Version";
inline constexpr const char* kJpegQualityKey = "GlobeForge-JpegQuality";

// How a map is written beyond what its name says.
struct ImageFileOptions {
    // A bump map holds heights rather than colours: under a ".png" name with heightBitDepth
    // 16 it is written as 16-bit greyscale (0 .. 256 scaled to 0 .. 65535, clamped); under a
    // ".exr" name as a single float channel holding the values unclamped. Heights are R.
    bool heightMap = false;
    int32_t heightBitDepth = 8;  // 8 or 16; anything else counts as 8
    // When not empty, PNG, JPEG and OpenEXR files carry this settings text, productVersion
    // and jpegQuality. BMP files carry nothing.
    std::string settingsText{};
    std::string productVersion{};  // for example "GlobeForge 1.0e-37"
    // JPEG files only: the quality, handed to the encoder as it is (the library limits it
    // to 1..100).
    int32_t jpegQuality = 90;
    // PNG files only: the encoding stops (and fails) at the next row once this holds true.
    const std::atomic<bool>* cancel = nullptr;
    // PNG files only: threads the compression may use (the bytes do not depend on it).
    int32_t threads = 1;
};

// Writes the image with 8 bits per colour channel (floats clamped, rounded half to even),
// no alpha; an OpenEXR file holds 32-bit floats, colours divided by 255 so that 255 is
// 1.0. False on any failure.
bool SaveImageFile(const FloatImage& image, const std::string& fileName,
                   std::string* error = nullptr);
bool SaveImageFile(const FloatImage& image, const std::string& fileName,
                   const ImageFileOptions& options, std::string* error = nullptr);

// The bytes SaveImageFile would write, without writing them; safe to call on several
// threads at once for different images. False on any failure.
// Whether EncodeImageFile of this name heeds ImageFileOptions::cancel (PNG).
bool EncodingCanBeCancelled(const std::string& fileName);

bool EncodeImageFile(const FloatImage& image, const std::string& fileName,
                     const ImageFileOptions& options, std::vector<uint8_t>& bytes,
                     std::string* error = nullptr);

// What a map file says about how it was made.
struct MapProvenance {
    std::string settingsText;
    std::string productVersion;  // for example "GlobeForge 1.0e-37"; empty when absent
    std::optional<int32_t> jpegQuality;
};

// Whether a map written under this name carries its provenance: its extension names PNG,
// JPEG or OpenEXR.
bool CarriesProvenance(const std::string& fileName);

// Reads the provenance of a PNG, JPEG or OpenEXR map. False when the file cannot be read or
// carries no settings text.
bool ReadMapProvenance(const std::string& fileName, MapProvenance& provenance,
                       std::string* error = nullptr);

// The same for 24-bit bitmaps: the bitmap is unchanged on failure; JPEG files are written at
// the default ImageFileOptions::jpegQuality.
bool LoadBitmapFile(Bitmap24& bitmap, const std::string& fileName, std::string* error = nullptr);
bool SaveBitmapFile(const Bitmap24& bitmap, const std::string& fileName,
                    std::string* error = nullptr);

}  // namespace globeforge
