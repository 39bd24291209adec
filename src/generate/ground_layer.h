// The ground layer: the planet's height field at W x H = output size x oversampling, from
// a loaded heightmap, from the stamping generator, or both blended; craters on top.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/progress.h"
#include "core/render_params.h"
#include "generate/stamping.h"
#include "image/float_image.h"

namespace globeforge {

// The ground layer, or nullopt when the render was aborted (or an image could not be had;
// ctx.failure then says so). The brush redraws share brushes. With sparesOutliveCraters,
// the spare images the heightmap leaves are kept through the crater stage (the driver
// finds that the craters fit beside them); otherwise they are released before it.
std::optional<FloatImage> BuildGroundLayer(const RenderParams& params, BrushCache& brushes,
                                           bool sparesOutliveCraters, RenderContext& ctx);

// Builds the generated, warped heightmap into layer (W x H, filled with opaque black).
// Draws its brushes into params.WorkImage with brushes. On abort it returns early; when an
// image cannot be had it sets ctx.failure and returns.
void GenerateGroundHeightmap(const RenderParams& params, FloatImage& layer, BrushCache& brushes,
                             RenderContext& ctx);

// The four stamping passes of the ground for a layer layerWidth pixels wide: base pattern
// and the three warp filters.
std::array<StampPass, 4> GroundStampPasses(const RenderParams& params, int32_t layerWidth);

// A width x height layer filled with opaque black; nullopt, with ctx.failure naming the
// layer, when memory ran out.
std::optional<FloatImage> NewBlackLayer(int32_t width, int32_t height, const char* name,
                                        RenderContext& ctx);

// A user picture for a layer: when fileName names a readable picture, picture becomes it
// resampled to width x height over opaque black (the Norm blend scales it by 255/256);
// otherwise picture stays empty. False, with ctx.failure set, only when memory ran out.
bool LoadLayerPicture(const std::string& fileName, int32_t width, int32_t height,
                      std::optional<FloatImage>& picture, RenderContext& ctx);

// The generated layer laid over the user's picture of the same size: the layer's A set from
// the transparency in percent, then the layer stretched onto the picture with the mixture
// mode (a BlendMode).
void BlendOverPicture(FloatImage& layer, FloatImage& picture, int32_t transparency,
                      int32_t mixtureMode);

// The finished layer from the generated layer and the user's picture, if any: with a picture,
// the generated layer (when generated) blended over it and the picture taken as the layer.
// A generated layer is reported with doneMessage.
std::optional<FloatImage> LayerOverPicture(std::optional<FloatImage> layer,
                                           std::optional<FloatImage> picture, bool generated,
                                           int32_t transparency, int32_t mixtureMode,
                                           const char* doneMessage, RenderContext& ctx);

}  // namespace globeforge
