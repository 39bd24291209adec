// The picture of a planet in the batch gallery, made from the maps of a finished render.
#pragma once

#include <optional>
#include <string>

#include "core/render_params.h"
#include "image/float_image.h"

namespace globeforge {

// The gallery's thumbnails are square, this many pixels wide.
inline constexpr int32_t kThumbnailSize = 160;

// The thumbnail of a render whose colour map was built (the other maps are used when
// present). Empty, with a reason in why, when it cannot be made.
std::optional<FloatImage> MakePlanetThumbnail(const RenderParams& params, int threads,
                                              std::string* why);

}  // namespace globeforge
