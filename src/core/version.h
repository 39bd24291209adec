// The product's name and version text, shown in the window caption, written into settings
// files and printed by the command-line renderer.
#pragma once

namespace globeforge {

inline constexpr const char* kProductName = "GlobeForge";
inline constexpr const char* kVersionText = "1.0e-37";

}  // namespace globeforge
