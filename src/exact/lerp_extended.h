// The lerp's definition, apart from its decided forms in exact/lerp.h so that the pixel
// types can use it without taking in the decision kit's names and intrinsics.
#pragma once

#include "exact/extended.h"

namespace globeforge {

// The definition: t a + (1 - t) b with extended products and sum, rounded once to float.
inline float LerpExtended(float a, float b, double t) {
    const Extended te = t;
    const Extended ue = 1.0L - te;
    return static_cast<float>(te * a + ue * b);
}

}  // namespace globeforge
