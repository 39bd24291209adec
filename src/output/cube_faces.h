// Cube maps: an equirectangular map resampled onto the six faces of a cube, for engines that
// want no pinched poles. Faces follow the OpenGL cube-map layout (GL_TEXTURE_CUBE_MAP_POSITIVE_X
// .. NEGATIVE_Z and its major-axis table), with the first row of each face image as t = 0, so
// the files upload to glTexImage2D as they are.
//
// Orientation on the planet: +Y is the north pole, +Z looks at longitude 0 on the equator and
// +X at longitude 90 (east). That is Blender's sphere mapping (longitude 0 facing the front,
// -Y) carried into the Y-up frame of glTF and the engines, so a planet sampled with its
// object-space normal shows the map unmirrored, east to the right of north.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image/float_image.h"

namespace globeforge {

class MapSampler;
class RenderContext;

// In the order of the GL face targets.
enum class CubeFace : uint8_t { PositiveX, NegativeX, PositiveY, NegativeY, PositiveZ, NegativeZ };

inline constexpr std::array<CubeFace, 6> kCubeFaces = {CubeFace::PositiveX, CubeFace::NegativeX,
                                                       CubeFace::PositiveY, CubeFace::NegativeY,
                                                       CubeFace::PositiveZ, CubeFace::NegativeZ};

// "_px", "_nx", "_py", "_ny", "_pz", "_nz".
std::string_view CubeFaceSuffix(CubeFace face);

// The file of a face: the suffix goes before the map name's extension ("dir/color.png" gives
// "dir/color_px.png"; a name without extension just gains the suffix).
std::string CubeFaceFileName(const std::string& mapName, CubeFace face);

// The edge of the faces for a map of this width: a quarter of it, at least 1, so a face
// pixel at the centre of a side face spans about one map pixel.
int32_t CubeFaceSize(int32_t mapWidth);

struct CubeDirection {
    double x, y, z;
};

// The (unnormalised) direction through a point of a face: column and row run over 0 .. size
// from the image's left and top edges, so (c + 0.5, r + 0.5) is the centre of pixel (c, r).
CubeDirection CubeFaceDirection(CubeFace face, int32_t size, double column, double row);

// One face of the map, size x size: each pixel the map seen along its centre's direction,
// filtered over the patch of sphere the pixel covers (so the poles, where a face pixel spans
// many map columns, do not alias). Rows are computed in fixed bands on the context's threads;
// the result does not depend on their number. nullopt when the face's memory cannot be had.
std::optional<FloatImage> BuildCubeFace(const MapSampler& map, CubeFace face, int32_t size,
                                        RenderContext& ctx);

}  // namespace globeforge
