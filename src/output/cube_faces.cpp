#include "output/cube_faces.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/parallel.h"
#include "core/progress.h"

namespace globeforge {

namespace {

// The map seen along a direction: bilinear, wrapping across longitude 0/360 and clamped at
// the poles. Column x covers longitudes x .. x + 1 times 360 / width, row y latitudes from
// the north pole down, so pixel centres sit at half-integer positions.
FloatPixel SampleMap(const FloatImage& map, const CubeDirection& d) {
    const double lon = std::atan2(d.x, d.z);  // 0 at +Z, +pi/2 at +X (east)
    const double lat = std::atan2(d.y, std::hypot(d.x, d.z));
    const double u = lon / (2.0 * std::numbers::pi);
    const double x = (u - std::floor(u)) * map.Width - 0.5;
    const double y = (0.5 - lat / std::numbers::pi) * map.Height - 0.5;
    const BilinearTap tx = BilinearAxis(x, map.Width);
    const double yc = std::clamp(y, 0.0, static_cast<double>(map.Height - 1));
    const int32_t y0 = static_cast<int32_t>(yc);
    const int32_t y1 = std::min(y0 + 1, map.Height - 1);
    const double fy = yc - y0;
    const FloatPixel* row0 = map.Row(y0);
    const FloatPixel* row1 = map.Row(y1);
    const FloatPixel top = LerpPixel(row0[tx.i1], row0[tx.i0], tx.frac);
    const FloatPixel bottom = LerpPixel(row1[tx.i1], row1[tx.i0], tx.frac);
    return LerpPixel(bottom, top, fy);
}

}  // namespace

std::string_view CubeFaceSuffix(CubeFace face) {
    switch (face) {
        case CubeFace::PositiveX:
            return "_px";
        case CubeFace::NegativeX:
            return "_nx";
        case CubeFace::PositiveY:
            return "_py";
        case CubeFace::NegativeY:
            return "_ny";
        case CubeFace::PositiveZ:
            return "_pz";
        case CubeFace::NegativeZ:
            return "_nz";
    }
    return "_nz";
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

std::optional<FloatImage> BuildCubeFace(const FloatImage& map, CubeFace face, int32_t size,
                                        RenderContext* ctx) {
    std::optional<FloatImage> made = NewImage(size, size);
    if (!made || map.Width < 1 || map.Height < 1) return std::nullopt;
    FloatImage& out = *made;
    const auto rows = [&](int64_t y0, int64_t y1) {
        for (int64_t y = y0; y < y1; ++y) {
            FloatPixel* dst = out.Row(static_cast<int32_t>(y));
            for (int32_t x = 0; x < size; ++x) {
                dst[x] = SampleMap(
                    map, CubeFaceDirection(face, size, x + 0.5, static_cast<double>(y) + 0.5));
            }
        }
    };
    if (ctx) {
        ParallelForBands(*ctx, size, kBandRows, rows);
    } else {
        rows(0, size);
    }
    return made;
}

}  // namespace globeforge
