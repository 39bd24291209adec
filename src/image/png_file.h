// PNG files in memory, through libpng. Written files are 8-bit RGB or 16-bit greyscale,
// optionally with text chunks; reading takes every PNG form (palette, grey, 1 to 16 bits,
// with or without alpha) and brings it to 24-bit rows, dropping alpha without compositing
// and scaling 16-bit samples to 8 bits. Colour management chunks are ignored: samples are
// taken as they stand.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/bitmap24.h"
#include "image/metadata_text.h"

namespace globeforge {

// How a PNG file is written.
struct PngWriteOptions {
    int32_t CompressionLevel = 6;  // zlib level, 0 (none) to 9 (smallest)
    // Written as uncompressed international text chunks (iTXt, UTF-8) before the image data.
    // Keys must be 1 to 79 printable Latin-1 characters.
    MetadataTexts Texts;
    // When set, the encoding stops at the next row once it holds true ("cancelled").
    const std::atomic<bool>* Cancel = nullptr;
    // Threads the compression of 8-bit colour at level 6 may use; the bytes are the same
    // for any number.
    int32_t Threads = 1;
    // Compress through libpng's own calls to zlib instead: the reference that the threaded
    // compression is checked against.
    bool ThroughLibpng = false;
};

// One sample per pixel, rows top first, no padding.
struct Gray16Raster {
    int32_t Width = 0;
    int32_t Height = 0;
    std::vector<uint16_t> Samples;
};

// 8-bit RGB.
bool EncodePng(const Bitmap24& bitmap, std::vector<uint8_t>& out,
               const PngWriteOptions& options = {}, std::string* error = nullptr);
// The same file as EncodePng of ImageToBitmap(image), each row converted as it is
// compressed: no bitmap of the whole image is held.
bool EncodePng(const FloatImage& image, std::vector<uint8_t>& out,
               const PngWriteOptions& options = {}, std::string* error = nullptr);

// 8-bit RGBA with straight alpha: width x height pixels of 4 bytes, rows top first.
bool EncodePngRgba(const uint8_t* rgba, int32_t width, int32_t height, std::vector<uint8_t>& out,
                   const PngWriteOptions& options = {}, std::string* error = nullptr);
// 16-bit greyscale.
bool EncodePngGray16(const Gray16Raster& raster, std::vector<uint8_t>& out,
                     const PngWriteOptions& options = {}, std::string* error = nullptr);

// The text chunks of a PNG file (tEXt, zTXt and iTXt, before or after the image data), in
// file order. False, with texts unchanged, when the file is not a complete PNG file.
bool ReadPngTexts(std::span<const uint8_t> bytes, MetadataTexts& texts,
                  std::string* error = nullptr);

// False, with bitmap unchanged, for anything but a complete PNG of at most 65535 x 65535
// pixels whose image data the file can actually hold.
bool DecodePng(std::span<const uint8_t> bytes, Bitmap24& bitmap, std::string* error = nullptr);

}  // namespace globeforge
