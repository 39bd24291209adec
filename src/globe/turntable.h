// An animated WebP of the globe making one full turn: the camera circles eastward around
// the planet's axis at a fixed latitude while the sun keeps its place relative to the
// camera, so every frame is lit alike and the loop has no seam.
#pragma once

#include <cstdint>
#include <string>

#include "core/progress.h"
#include "globe/globe.h"

namespace globeforge {

inline constexpr int32_t kMaxTurntableFrames = 3600;

struct TurntableOptions {
    int32_t frames = 60;              // frames of one turn, 1..kMaxTurntableFrames
    int32_t frameMilliseconds = 100;  // display time of each frame
    float quality = 80;               // lossy WebP quality 0..100
};

// Empty when frames and timing are usable; otherwise why not.
std::string CheckTurntableOptions(const TurntableOptions& turntable);

// Frame i looks at camera.longitude + 360 i / frames. Writes the file through a temporary
// name renamed into place. False, with error set, for refused options, memory, encoder or
// file failures. After each frame ctx's progress reports the frame count done and an abort
// request stops the work (false, nothing written).
bool WriteTurntableWebp(const GlobeScene& scene, const GlobeCamera& camera, const GlobeSun& sun,
                        const GlobeOptions& options, const TurntableOptions& turntable,
                        const std::string& path, RenderContext& ctx, std::string* error = nullptr);

}  // namespace globeforge
