// The longitude-latitude sphere a planet's maps are laid on for 3D engines: +Y is the north
// pole, +Z looks at longitude 0 and +X at 90 degrees east (the cube faces' frame), and the
// texture coordinates are the maps' own equirectangular ones (u = longitude / 360 from
// longitude 0 eastward, v = 0 at the north pole, 1 at the south pole).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace globeforge {

// The smallest and largest longitude segment counts a sphere may have.
inline constexpr int32_t kMinSphereSegments = 3;
inline constexpr int32_t kMaxSphereSegments = 4096;

struct SphereMesh {
    int32_t segments = 0;  // columns of quads around the equator
    int32_t rings = 0;     // rows of quads from pole to pole
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<float, 3>> normals;   // position / radius
    std::vector<std::array<float, 4>> tangents;  // unit east, w = +1 (bitangent = north)
    std::vector<std::array<float, 2>> uvs;
    std::vector<uint32_t> indices;  // triangles, counter-clockwise seen from outside
};

// segments (kMinSphereSegments .. kMaxSphereSegments) columns and segments / 2 (at least 2)
// rings. The column at longitude 0 is doubled, once with u = 0 and once with u = 1, so the
// texture coordinates never wrap. Each pole is one vertex per column, at the middle of its
// column's u, so the polar triangles take their texels from their own column instead of
// fanning one texel around the pole.
SphereMesh BuildSphereMesh(double radius, int32_t segments);

// The segment count that suits a map of this width: about one segment per 8 columns of
// the map, 32 at least and 512 at most.
int32_t SphereSegmentsForMap(int32_t mapWidth);

}  // namespace globeforge
