// The product's name and version text, shown in the window caption, written into settings
// files and printed by the command-line renderer.
#pragma once

#include <string>

namespace globeforge {

inline constexpr const char* kProductName = "GlobeForge";
inline constexpr const char* kVersionText = "1.0e-37";

// "GlobeForge 1.0e-37", as every written map carries it.
inline std::string ProductVersionText() {
    return std::string(kProductName) + " " + kVersionText;
}

}  // namespace globeforge
