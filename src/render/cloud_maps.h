// The cloud colour, bump and transparency maps, for transparency mapping or for alpha
// compositing.
#pragma once

#include "core/progress.h"
#include "core/render_params.h"
#include "image/float_image.h"

namespace globeforge {

void BuildCloudColorMap(RenderParams& params, const FloatImage& cloud, RenderContext& ctx);
void BuildCloudBumpMap(RenderParams& params, const FloatImage& cloud, RenderContext& ctx);
void BuildCloudTransparencyMap(RenderParams& params, const FloatImage& cloud, RenderContext& ctx);
// The same map from a cloud layer nothing reads afterwards: its memory becomes the map's
// work image.
void BuildCloudTransparencyMap(RenderParams& params, FloatImage&& cloud, RenderContext& ctx);

}  // namespace globeforge
