#include "gltf/sphere_mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace globeforge {
namespace {

using Vec3 = std::array<double, 3>;

Vec3 V(const std::array<float, 3>& a) {
    return {a[0], a[1], a[2]};
}
Vec3 Sub(const Vec3& a, const Vec3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec3 Cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double Dot(const Vec3& a, const Vec3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

TEST(SphereMesh, VerticesFollowTheMapFrame) {
    const double radius = 2.5;
    const SphereMesh mesh = BuildSphereMesh(radius, 16);
    ASSERT_EQ(mesh.segments, 16);
    ASSERT_EQ(mesh.rings, 8);
    const size_t count = mesh.positions.size();
    ASSERT_EQ(count, 2u * 16 + 7u * 17);
    ASSERT_EQ(mesh.normals.size(), count);
    ASSERT_EQ(mesh.tangents.size(), count);
    ASSERT_EQ(mesh.uvs.size(), count);
    int seamStarts = 0, seamEnds = 0, north = 0, south = 0;
    for (size_t i = 0; i < count; ++i) {
        const Vec3 p = V(mesh.positions[i]);
        const Vec3 n = V(mesh.normals[i]);
        const auto& t = mesh.tangents[i];
        const Vec3 east = {t[0], t[1], t[2]};
        const double u = mesh.uvs[i][0], v = mesh.uvs[i][1];
        ASSERT_GE(u, 0.0);
        ASSERT_LE(u, 1.0);
        ASSERT_GE(v, 0.0);
        ASSERT_LE(v, 1.0);
        EXPECT_NEAR(Dot(n, n), 1.0, 1e-6);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(n[k], p[k] / radius, 1e-6);
        EXPECT_NEAR(Dot(east, east), 1.0, 1e-6);
        EXPECT_NEAR(Dot(east, n), 0.0, 1e-6);
        EXPECT_EQ(t[3], 1.0f);
        // The map's frame: latitude from v, longitude from u eastward from +Z toward +X.
        const double lat = std::numbers::pi * (0.5 - v);
        const double lon = 2 * std::numbers::pi * u;
        EXPECT_NEAR(n[1], std::sin(lat), 1e-6);
        EXPECT_NEAR(n[0], std::cos(lat) * std::sin(lon), 1e-6);
        EXPECT_NEAR(n[2], std::cos(lat) * std::cos(lon), 1e-6);
        // East turns with longitude: +X at longitude 0, -Z at 90 degrees east.
        EXPECT_NEAR(east[0], std::cos(lon), 1e-6);
        EXPECT_NEAR(east[2], -std::sin(lon), 1e-6);
        // The tangent frame's bitangent (normal x tangent, glTF's rule) points north.
        const Vec3 b = Cross(n, east);
        EXPECT_NEAR(b[1], std::cos(lat), 1e-6);
        if (v > 0 && v < 1) {
            seamStarts += u == 0.0;
            seamEnds += u == 1.0;
        } else {
            (v == 0 ? north : south) += 1;
            // A pole vertex sits in the middle of its column.
            EXPECT_NEAR(std::fmod(u * 16, 1.0), 0.5, 1e-6);
        }
    }
    EXPECT_EQ(seamStarts, 7);
    EXPECT_EQ(seamEnds, 7);
    EXPECT_EQ(north, 16);
    EXPECT_EQ(south, 16);
}

TEST(SphereMesh, TrianglesCoverTheSphereFacingOutward) {
    for (const int32_t segments : {3, 16, 33}) {
        const SphereMesh mesh = BuildSphereMesh(1.0, segments);
        ASSERT_EQ(mesh.indices.size() % 3, 0u);
        const size_t triangles = mesh.indices.size() / 3;
        EXPECT_EQ(triangles, static_cast<size_t>(2 * mesh.segments * (mesh.rings - 1)));
        double area = 0;
        for (size_t k = 0; k < triangles; ++k) {
            const uint32_t* tri = &mesh.indices[3 * k];
            for (int j = 0; j < 3; ++j) ASSERT_LT(tri[j], mesh.positions.size());
            const Vec3 a = V(mesh.positions[tri[0]]), b = V(mesh.positions[tri[1]]),
                       c = V(mesh.positions[tri[2]]);
            const Vec3 normal = Cross(Sub(b, a), Sub(c, a));
            const Vec3 centre = {(a[0] + b[0] + c[0]) / 3, (a[1] + b[1] + c[1]) / 3,
                                 (a[2] + b[2] + c[2]) / 3};
            // Counter-clockwise seen from outside: the face normal points away from the centre.
            EXPECT_GT(Dot(normal, centre), 0.0) << "triangle " << k << " of " << segments;
            area += std::sqrt(Dot(normal, normal)) / 2;
            // Texture coordinates run the same way as the faces: no triangle spans the seam.
            const auto& ua = mesh.uvs[tri[0]];
            const auto& ub = mesh.uvs[tri[1]];
            const auto& uc = mesh.uvs[tri[2]];
            const double uvArea =
                (ub[0] - ua[0]) * (uc[1] - ua[1]) - (ub[1] - ua[1]) * (uc[0] - ua[0]);
            EXPECT_LT(uvArea, 0.0) << "triangle " << k;  // v runs down the image
        }
        // The polyhedron's area approaches the sphere's from below.
        EXPECT_LT(area, 4 * std::numbers::pi);
        if (segments == 33) {
            EXPECT_GT(area, 0.97 * 4 * std::numbers::pi);
        }
    }
}

TEST(SphereMesh, SegmentsFollowTheMapWidth) {
    EXPECT_EQ(SphereSegmentsForMap(16), 32);
    EXPECT_EQ(SphereSegmentsForMap(2048), 256);
    EXPECT_EQ(SphereSegmentsForMap(8192), 512);
}

}  // namespace
}  // namespace globeforge
