#include "generate/craters.h"

namespace globeforge {

// Placeholder until the crater stage lands.
void PlaceCraters(const RenderParams&, FloatImage&, RenderContext&) {}

}  // namespace globeforge
