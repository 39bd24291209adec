#include "image/image_files.h"

#include <atomic>

namespace globeforge {

namespace {
std::atomic<uint8_t> jpegQuality{90};
}

// Placeholders until the codecs land.
bool LoadImageFile(FloatImage&, const std::string&, std::string*) { return false; }
bool SaveImageFile(const FloatImage&, const std::string&, std::string*) { return false; }

int32_t GetJpegQuality() { return jpegQuality.load(); }
void SetJpegQuality(int32_t quality) { jpegQuality.store(static_cast<uint8_t>(quality & 0xFF)); }

}  // namespace globeforge
