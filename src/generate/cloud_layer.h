// The cloud layer: cloud density at W x H, from a loaded picture, from the stamping
// generator with the cloud's own constants, or both blended.
#pragma once

#include <array>
#include <optional>

#include "core/progress.h"
#include "core/render_params.h"
#include "generate/stamping.h"
#include "image/float_image.h"

namespace globeforge {

// The cloud layer; nullopt when the render was aborted and when there are no clouds
// (generation off and no readable picture). Also nullopt when an image could not be had;
// ctx.failure then says so.
// The brush redraws share brushes.
std::optional<FloatImage> BuildCloudLayer(const RenderParams& params, BrushCache& brushes,
                                          RenderContext& ctx);

// Builds the generated, warped cloud density into layer (W x H, filled with opaque black).
// Draws its brushes into params.WorkImage with brushes.
void GenerateCloudPattern(const RenderParams& params, FloatImage& layer, BrushCache& brushes,
                          RenderContext& ctx);

// The four stamping passes of the clouds for a layer layerWidth pixels wide: base pattern
// and the three warp filters.
std::array<StampPass, 4> CloudStampPasses(const RenderParams& params, int32_t layerWidth);

}  // namespace globeforge
