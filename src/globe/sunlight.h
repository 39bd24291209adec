// How sunlight falls off across the terminator, for the ground, the clouds and the glow.
#pragma once

#include <algorithm>

namespace globeforge::globe_detail {

// The width of the soft terminator, as a cosine of the sun's angle.
constexpr float kTerminator = 0.06f;

// A C1 ramp that equals c above kTerminator and fades to 0 at -kTerminator.
inline float SoftCosine(float c) {
    if (c >= kTerminator) return c;
    if (c <= -kTerminator) return 0.0f;
    const float t = c + kTerminator;
    return t * t * (0.25f / kTerminator);
}
// 0 on the night side, 1 on the day side, smooth across the terminator band.
inline float DaySide(float c) {
    const float t = std::clamp((c + kTerminator) * (0.5f / kTerminator), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

}  // namespace globeforge::globe_detail
