#include "output/cloud_maps.h"

namespace globeforge {

// Placeholders until the cloud map builders land: no map is built.
void BuildCloudColorMap(RenderParams&, const FloatImage&, RenderContext&) {}
void BuildCloudBumpMap(RenderParams&, const FloatImage&, RenderContext&) {}
void BuildCloudTransparencyMap(RenderParams&, const FloatImage&, RenderContext&) {}

}  // namespace globeforge
