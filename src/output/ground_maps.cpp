#include "output/ground_maps.h"

namespace globeforge {

// Placeholders until the map builders land: no map is built.
void BuildGroundColorMap(RenderParams&, const FloatImage&, const FloatImage*, bool,
                         RenderContext&) {}
void BuildGroundBumpMap(RenderParams&, const FloatImage&, const FloatImage*, bool,
                        RenderContext&) {}
void BuildGroundSpecularMap(RenderParams&, const FloatImage&, const FloatImage*, bool,
                            RenderContext&) {}
void ReduceImage(FloatImage&, const FloatImage&, int32_t, RenderContext&) {}

}  // namespace globeforge
