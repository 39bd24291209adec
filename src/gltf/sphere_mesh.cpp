#include "gltf/sphere_mesh.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace globeforge {

namespace {

// One vertex at latitude lat and longitude lon (radians) with texture coordinates (u, v).
void AddVertex(SphereMesh& mesh, double radius, double lat, double lon, double u, double v) {
    const double cl = std::cos(lat), sl = std::sin(lat);
    const double co = std::cos(lon), so = std::sin(lon);
    const double n[3] = {cl * so, sl, cl * co};
    mesh.positions.push_back({static_cast<float>(radius * n[0]), static_cast<float>(radius * n[1]),
                              static_cast<float>(radius * n[2])});
    mesh.normals.push_back(
        {static_cast<float>(n[0]), static_cast<float>(n[1]), static_cast<float>(n[2])});
    // East: the derivative along longitude, defined at the poles too.
    mesh.tangents.push_back({static_cast<float>(co), 0.0f, static_cast<float>(-so), 1.0f});
    mesh.uvs.push_back({static_cast<float>(u), static_cast<float>(v)});
}

}  // namespace

SphereMesh BuildSphereMesh(double radius, int32_t segments) {
    SphereMesh mesh;
    const int32_t n = std::clamp(segments, kMinSphereSegments, kMaxSphereSegments);
    const int32_t m = std::max(2, n / 2);
    mesh.segments = n;
    mesh.rings = m;
    const double pi = std::numbers::pi;
    const size_t count = 2 * static_cast<size_t>(n) + static_cast<size_t>(m - 1) * (n + 1);
    mesh.positions.reserve(count);
    mesh.normals.reserve(count);
    mesh.tangents.reserve(count);
    mesh.uvs.reserve(count);

    // Vertex layout: the n north-pole vertices, rings 1 .. m-1 of n + 1 vertices each, then
    // the n south-pole vertices.
    for (int32_t i = 0; i < n; ++i) {
        const double u = (i + 0.5) / n;
        AddVertex(mesh, radius, pi / 2, 2 * pi * u, u, 0.0);
    }
    for (int32_t r = 1; r < m; ++r) {
        const double v = static_cast<double>(r) / m;
        for (int32_t i = 0; i <= n; ++i) {
            const double u = static_cast<double>(i) / n;
            AddVertex(mesh, radius, pi * (0.5 - v), 2 * pi * u, u, v);
        }
    }
    for (int32_t i = 0; i < n; ++i) {
        const double u = (i + 0.5) / n;
        AddVertex(mesh, radius, -pi / 2, 2 * pi * u, u, 1.0);
    }

    const auto ring = [n](int32_t r, int32_t i) {
        return static_cast<uint32_t>(n + (r - 1) * (n + 1) + i);
    };
    const uint32_t south = static_cast<uint32_t>(n + (m - 1) * (n + 1));
    mesh.indices.reserve(static_cast<size_t>(6) * n * (m - 1));
    for (int32_t i = 0; i < n; ++i) {
        mesh.indices.insert(mesh.indices.end(),
                            {static_cast<uint32_t>(i), ring(1, i), ring(1, i + 1)});
    }
    for (int32_t r = 1; r + 1 < m; ++r) {
        for (int32_t i = 0; i < n; ++i) {
            const uint32_t a = ring(r, i), b = ring(r, i + 1);
            const uint32_t c = ring(r + 1, i), d = ring(r + 1, i + 1);
            mesh.indices.insert(mesh.indices.end(), {a, c, d, a, d, b});
        }
    }
    for (int32_t i = 0; i < n; ++i) {
        mesh.indices.insert(mesh.indices.end(),
                            {ring(m - 1, i), south + static_cast<uint32_t>(i), ring(m - 1, i + 1)});
    }
    return mesh;
}

int32_t SphereSegmentsForMap(int32_t mapWidth) {
    return std::clamp(mapWidth / 8, 32, 512);
}

}  // namespace globeforge
