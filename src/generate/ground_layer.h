// The ground layer: the planet's height field at W x H = output size x oversampling, from
// a loaded heightmap, from the stamping generator, or both blended; craters on top.
#pragma once

#include <optional>

#include "image/float_image.h"
#include "render/progress.h"
#include "render/render_params.h"

namespace globeforge {

// The ground layer, or nullopt when the render was aborted (or an image could not be had;
// ctx.failure then says so).
std::optional<FloatImage> BuildGroundLayer(const RenderParams& params, RenderContext& ctx);

// Builds the generated, warped heightmap into layer (W x H, filled with opaque black).
void GenerateGroundHeightmap(const RenderParams& params, FloatImage& layer, RenderContext& ctx);

}  // namespace globeforge
