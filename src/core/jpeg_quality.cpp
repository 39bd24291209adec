#include "core/jpeg_quality.h"

#include <atomic>

namespace globeforge {

namespace {

std::atomic<uint8_t> jpegQuality{90};

}  // namespace

int32_t GetJpegQuality() {
    return jpegQuality.load();
}

void SetJpegQuality(int32_t quality) {
    jpegQuality.store(static_cast<uint8_t>(quality & 0xFF));
}

}  // namespace globeforge
