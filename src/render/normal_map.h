// The tangent-space normal map of the ground relief, for 3D renderers that light a sphere
// with it: OpenGL convention (red east, green north, blue out of the surface), each
// component mapped from -1 .. 1 to 0 .. 255. It is derived from the same heights as the
// ground bump map, at the layer's full float precision before reduction.
#pragma once

#include "core/progress.h"
#include "core/render_params.h"
#include "image/float_image.h"

namespace globeforge {

// Sets params.NormalMapImage: the ground bump heights (sea flattened at sea level, the
// clouds added when mixClouds, normalised to 0 .. 256) turned into unit normals with
// NormalStrength, wrapping across longitude 0/360 but not across the poles, with the east
// slope measured over the cos(latitude) width a pixel spans there; then reduced to the
// output size and made unit length again. cloud may be null. Nothing is stored after an
// abort or when memory runs out (ctx.failure then says so).
void BuildNormalMap(RenderParams& params, const FloatImage& ground, const FloatImage* cloud,
                    bool mixClouds, RenderContext& ctx);

}  // namespace globeforge
