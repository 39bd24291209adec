// Impact craters: 40 crater stamps with bowl, rim, ridges and a swirled outline, scattered
// over two polar images and projected onto the heightmap's hemispheres.
#pragma once

#include "image/float_image.h"
#include "render/progress.h"
#include "render/render_params.h"

namespace globeforge {

// The whole crater stage on the ground heightmap image.
void PlaceCraters(const RenderParams& params, FloatImage& image, RenderContext& ctx);

}  // namespace globeforge
