#include "generate/cloud_layer.h"

namespace globeforge {

// Placeholder until the cloud generator lands: no clouds.
std::optional<FloatImage> BuildCloudLayer(const RenderParams&, RenderContext&) {
    return std::nullopt;
}

void GenerateCloudPattern(const RenderParams&, FloatImage&, RenderContext&) {}

}  // namespace globeforge
