// The quality of every JPEG map written, a setting of the whole program: the window's dialog
// and preferences, or the command line, set it before a render saves.
#pragma once

#include <cstdint>

namespace globeforge {

// 90 at start; the setter keeps the low 8 bits.
int32_t GetJpegQuality();
void SetJpegQuality(int32_t quality);

}  // namespace globeforge
