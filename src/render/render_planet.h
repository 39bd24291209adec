// The render driver: one whole render from filled parameters to the six maps.
#pragma once

#include <cstdint>
#include <string>

#include "core/progress.h"
#include "core/render_params.h"

namespace globeforge {

// The layer size W x H (output size times oversampling) and the bytes a render of these
// parameters needs at its peak, estimated before any work starts.
struct RenderFootprint {
    int64_t layerWidth = 0;
    int64_t layerHeight = 0;
    double peakBytes = 0;
    double craterBytes = 0;  // the most the crater stage holds, the layers' images included
};
RenderFootprint EstimateRenderFootprint(const RenderParams& params);

// Empty when the sizes can be rendered on this machine; otherwise a message that says why
// not (a size below 1, an oversampling below 1, a product beyond int32, or more memory
// than the machine has).
std::string CheckRenderSize(const RenderParams& params);

// One render. True when it ran to the end; false when it was aborted or could not run
// (ctx.failure then holds the reason and nothing was built).
bool RenderPlanet(RenderParams& params, RenderContext& ctx);

}  // namespace globeforge
