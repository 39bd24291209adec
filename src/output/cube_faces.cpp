#include "output/cube_faces.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/parallel.h"
#include "core/progress.h"
#include "sampling/map_sampler.h"

namespace globeforge {

namespace {

// The GL frame (+Y north, +Z longitude 0, +X longitude 90 east) turned into the sampler's.
SphereDirection PlanetDirection(const CubeDirection& d) {
    return {d.z, d.x, d.y};
}

}  // namespace

std::string_view CubeFaceSuffix(CubeFace face) {
    // In the order of CubeFace.
    static constexpr std::array<std::string_view, 6> kSuffixes = {"_px", "_nx", "_py",
                                                                  "_ny", "_pz", "_nz"};
    return kSuffixes[static_cast<size_t>(face)];
}

std::string CubeFaceFileName(const std::string& mapName, CubeFace face) {
    const size_t slash = mapName.find_last_of("/\\");
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = mapName.rfind('.');
    // A dot that starts the file's name (".png") or sits in a folder's name is no extension.
    if (dot == std::string::npos || dot <= nameStart) dot = mapName.size();
    std::string name = mapName.substr(0, dot);
    name += CubeFaceSuffix(face);
    name += mapName.substr(dot);
    return name;
}

int32_t CubeFaceSize(int32_t mapWidth) {
    return std::max(1, mapWidth / 4);
}

// The GL major-axis table read backwards: for a face and its (sc, tc) in -1 .. 1, the
// direction whose selection gives them.
CubeDirection CubeFaceDirection(CubeFace face, int32_t size, double column, double row) {
    const double sc = 2.0 * column / size - 1.0;
    const double tc = 2.0 * row / size - 1.0;
    switch (face) {
        case CubeFace::PositiveX:
            return {1.0, -tc, -sc};
        case CubeFace::NegativeX:
            return {-1.0, -tc, sc};
        case CubeFace::PositiveY:
            return {sc, 1.0, tc};
        case CubeFace::NegativeY:
            return {sc, -1.0, -tc};
        case CubeFace::PositiveZ:
            return {sc, -tc, 1.0};
        case CubeFace::NegativeZ:
            return {-sc, -tc, -1.0};
    }
    return {0.0, 0.0, 1.0};
}

std::optional<FloatImage> BuildCubeFace(const MapSampler& map, CubeFace face, int32_t size,
                                        RenderContext& ctx) {
    std::optional<FloatImage> made = NewImage(size, size);
    if (!made) return std::nullopt;
    FloatImage& out = *made;
    const double pixel = 2.0 / size;  // a pixel's side on the face plane at distance 1
    ParallelForBands(ctx, size, kBandRows, [&](int64_t y0, int64_t y1) {
        for (int64_t y = y0; y < y1; ++y) {
            FloatPixel* dst = out.Row(static_cast<int32_t>(y));
            for (int32_t x = 0; x < size; ++x) {
                const CubeDirection d =
                    CubeFaceDirection(face, size, x + 0.5, static_cast<double>(y) + 0.5);
                // The pixel's solid angle is pixel^2 / r^3 (r its distance from the centre);
                // the footprint is the side of a square of that area.
                const double r2 = d.x * d.x + d.y * d.y + d.z * d.z;
                const double footprint = pixel / std::pow(r2, 0.75);
                dst[x] = map.Sample(PlanetDirection(d), footprint);
            }
        }
    });
    return made;
}

}  // namespace globeforge
