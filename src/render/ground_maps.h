// The ground colour, bump and sea specular maps, built at the layer size and reduced to
// the output size, and the box-filter reduction that all six maps share.
#pragma once

#include <cstdint>

#include "core/progress.h"
#include "core/render_params.h"
#include "image/float_image.h"

namespace globeforge {

// cloud may be null; mixClouds is treated as false without a cloud layer.
void BuildGroundColorMap(RenderParams& params, const FloatImage& ground, const FloatImage* cloud,
                         bool mixClouds, RenderContext& ctx);
void BuildGroundBumpMap(RenderParams& params, const FloatImage& ground, const FloatImage* cloud,
                        bool mixClouds, RenderContext& ctx);
void BuildGroundSpecularMap(RenderParams& params, const FloatImage& ground, const FloatImage* cloud,
                            bool mixClouds, RenderContext& ctx);
// The same map from a ground layer nothing reads afterwards: its memory becomes the map's
// work image, so a large render needs one image fewer at its peak.
void BuildGroundSpecularMap(RenderParams& params, FloatImage&& ground, const FloatImage* cloud,
                            bool mixClouds, RenderContext& ctx);

// Averages factor x factor blocks of src into dst (copies when the sizes agree).
void ReduceImage(FloatImage& dst, const FloatImage& src, int32_t factor, RenderContext& ctx);

}  // namespace globeforge
