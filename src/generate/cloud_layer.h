// The cloud layer: cloud density at W x H, from a loaded picture, from the stamping
// generator with the cloud's own constants, or both blended.
#pragma once

#include <optional>

#include "image/float_image.h"
#include "render/progress.h"
#include "render/render_params.h"

namespace globeforge {

// The cloud layer; nullopt when the render was aborted and when there are no clouds
// (generation off and no readable picture).
std::optional<FloatImage> BuildCloudLayer(const RenderParams& params, RenderContext& ctx);

// Builds the generated, warped cloud density into layer (W x H, filled with opaque black).
void GenerateCloudPattern(const RenderParams& params, FloatImage& layer, RenderContext& ctx);

}  // namespace globeforge
