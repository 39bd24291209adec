// The picture of a planet in the batch gallery, made from the maps of a finished render.
#pragma once

#include <string>

#include "core/progress.h"
#include "core/render_params.h"

namespace globeforge {

// The gallery's thumbnails are square, this many pixels wide.
inline constexpr int32_t kThumbnailSize = 160;

// Writes the globe of a finished render as a PNG file at path: the planet lit, with its
// relief, gloss and clouds when those maps were built (render with BuildGlobeMaps set). False,
// with a reason in why, when it cannot. Maps wider than the thumbnail needs are replaced by
// smaller copies: call it once the maps are saved.
bool WritePlanetThumbnail(RenderParams& params, const std::string& path, RenderContext& ctx,
                          std::string* why);

}  // namespace globeforge
