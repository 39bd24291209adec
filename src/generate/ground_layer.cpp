#include "generate/ground_layer.h"

namespace globeforge {

// Placeholder until the generator lands: the opaque black layer of a render without
// generation or picture.
std::optional<FloatImage> BuildGroundLayer(const RenderParams& params, RenderContext& ctx) {
    auto layer = NewFilledImage(params.OutputResolutionX * params.OverSampling,
                                params.OutputResolutionY * params.OverSampling, kOpaqueBlack);
    if (!layer) ctx.failure = "not enough memory for the ground layer";
    return layer;
}

void GenerateGroundHeightmap(const RenderParams&, FloatImage&, RenderContext&) {}

}  // namespace globeforge
