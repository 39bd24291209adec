#include "output/cube_faces.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <numbers>

#include "core/progress.h"
#include "image/image_files.h"
#include "image/image_test_util.h"
#include "output/save_maps.h"
#include "sampling/map_sampler.h"

namespace globeforge {
namespace {

constexpr double kPi = std::numbers::pi;

// An equirectangular map whose pixels hold f(longitude, latitude) at their centres, in
// degrees, longitude 0 .. 360 east.
template <class F>
FloatImage MapOf(int32_t width, int32_t height, F f) {
    FloatImage map = *NewImage(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            map.At(x, y) = f((x + 0.5) * 360.0 / width, 90.0 - (y + 0.5) * 180.0 / height);
        }
    }
    return map;
}

// Face selection as the GL cube-map table states it: the major axis picks the face, and
// (sc, tc) / |ma| give s and t, t = 0 being the first row of the face image.
struct FacePoint {
    CubeFace face;
    double s, t;
};
FacePoint SelectFace(double x, double y, double z) {
    const double ax = std::fabs(x), ay = std::fabs(y), az = std::fabs(z);
    CubeFace face;
    double sc, tc, ma;
    if (ax >= ay && ax >= az) {
        face = x > 0 ? CubeFace::PositiveX : CubeFace::NegativeX;
        sc = x > 0 ? -z : z;
        tc = -y;
        ma = ax;
    } else if (ay >= az) {
        face = y > 0 ? CubeFace::PositiveY : CubeFace::NegativeY;
        sc = x;
        tc = y > 0 ? z : -z;
        ma = ay;
    } else {
        face = z > 0 ? CubeFace::PositiveZ : CubeFace::NegativeZ;
        sc = z > 0 ? x : -x;
        tc = -y;
        ma = az;
    }
    return {face, (sc / ma + 1) / 2, (tc / ma + 1) / 2};
}

std::vector<FloatImage> AllFaces(const FloatImage& map, int32_t size) {
    RenderContext ctx;
    const std::optional<MapSampler> sampler = MapSampler::Build(map, ctx);
    std::vector<FloatImage> faces;
    for (const CubeFace face : kCubeFaces)
        faces.push_back(*BuildCubeFace(*sampler, face, size, ctx));
    return faces;
}

TEST(CubeFaces, AdjacentFacesAgreeAlongTheirSharedEdges) {
    // A smooth planet: each channel a different linear function of the unit vector (+Z at
    // longitude 0, +X at 90 east, +Y north), so any turned or mirrored face shows at an edge.
    const FloatImage map = MapOf(1024, 512, [](double lon, double lat) {
        const double cl = std::cos(lat * kPi / 180);
        const double x = cl * std::sin(lon * kPi / 180), y = std::sin(lat * kPi / 180),
                     z = cl * std::cos(lon * kPi / 180);
        return FloatPixel{float(128 + 60 * x + 30 * y), float(128 + 70 * y - 20 * z),
                          float(128 + 65 * z - 25 * x), 255.0f};
    });
    const int32_t size = CubeFaceSize(map.Width);
    ASSERT_EQ(size, 256);
    const std::vector<FloatImage> faces = AllFaces(map, size);
    int compared = 0;
    for (const CubeFace face : kCubeFaces) {
        const FloatImage& here = faces[size_t(face)];
        for (int32_t i = 0; i < size; ++i) {
            // Half a pixel beyond each of the four edges lies the neighbour's border pixel.
            const struct {
                double column, row;
                int32_t x, y;
            } steps[] = {{-0.5, i + 0.5, 0, i},
                         {size + 0.5, i + 0.5, size - 1, i},
                         {i + 0.5, -0.5, i, 0},
                         {i + 0.5, size + 0.5, i, size - 1}};
            for (const auto& step : steps) {
                const CubeDirection d = CubeFaceDirection(face, size, step.column, step.row);
                const FacePoint p = SelectFace(d.x, d.y, d.z);
                ASSERT_NE(p.face, face);
                const int32_t nx = std::clamp(int32_t(std::floor(p.s * size)), 0, size - 1);
                const int32_t ny = std::clamp(int32_t(std::floor(p.t * size)), 0, size - 1);
                const FloatPixel a = here.At(step.x, step.y);
                const FloatPixel b = faces[size_t(p.face)].At(nx, ny);
                ASSERT_NEAR(a.R, b.R, 1.0f) << int(face) << " " << i;
                ASSERT_NEAR(a.G, b.G, 1.0f) << int(face) << " " << i;
                ASSERT_NEAR(a.B, b.B, 1.0f) << int(face) << " " << i;
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 6 * 4 * size);
}

TEST(CubeFaces, MarkersLandOnTheFaceAndPixelOfTheConvention) {
    // 64-pixel faces. Centres of faces: longitude 0 on +Z, 90 east on +X, 180 on -Z, 270 on
    // -X, the poles on +Y and -Y. Off centre: 30 east lies tan 30 of the half face right of
    // the +Z centre (column 32 + 32 tan 30 = 50.5), 30 north as far above it (row 13.5).
    const struct {
        double lon, lat;
        CubeFace face;
        double column, row;
    } markers[] = {
        {0, 0, CubeFace::PositiveZ, 32, 32},
        {90, 0, CubeFace::PositiveX, 32, 32},
        {180, 0, CubeFace::NegativeZ, 32, 32},
        {270, 0, CubeFace::NegativeX, 32, 32},
        {0, 90, CubeFace::PositiveY, 32, 32},
        {0, -90, CubeFace::NegativeY, 32, 32},
        {30, 0, CubeFace::PositiveZ, 50.5, 32},
        {0, 30, CubeFace::PositiveZ, 32, 13.5},
        // North-east of +X's centre: east is to the right on every side face, north up.
        {100, 10, CubeFace::PositiveX, 32 + 32 * std::tan(10 * kPi / 180),
         32 - 32 * std::tan(10 * kPi / 180) / std::cos(10 * kPi / 180)},
    };
    for (const auto& m : markers) {
        const double mx = std::cos(m.lat * kPi / 180) * std::sin(m.lon * kPi / 180);
        const double my = std::sin(m.lat * kPi / 180);
        const double mz = std::cos(m.lat * kPi / 180) * std::cos(m.lon * kPi / 180);
        // A bright spot of about 2 degrees around the marker on a black planet.
        const FloatImage map = MapOf(256, 128, [&](double lon, double lat) {
            const double cl = std::cos(lat * kPi / 180);
            const double dot = mx * cl * std::sin(lon * kPi / 180) +
                               my * std::sin(lat * kPi / 180) + mz * cl * std::cos(lon * kPi / 180);
            const float v = dot > std::cos(2.5 * kPi / 180) ? 255.0f : 0.0f;
            return FloatPixel{v, v, v, 255.0f};
        });
        const std::vector<FloatImage> faces = AllFaces(map, 64);
        // The centre of brightness over all faces.
        double sum[6] = {}, sx[6] = {}, sy[6] = {};
        for (size_t f = 0; f < 6; ++f) {
            for (int32_t y = 0; y < 64; ++y) {
                for (int32_t x = 0; x < 64; ++x) {
                    const double v = faces[f].At(x, y).R;
                    sum[f] += v;
                    sx[f] += v * (x + 0.5);
                    sy[f] += v * (y + 0.5);
                }
            }
        }
        const size_t best = size_t(std::max_element(sum, sum + 6) - sum);
        EXPECT_EQ(best, size_t(m.face)) << m.lon << "," << m.lat;
        EXPECT_NEAR(sx[best] / sum[best], m.column, 1.0) << m.lon << "," << m.lat;
        EXPECT_NEAR(sy[best] / sum[best], m.row, 1.0) << m.lon << "," << m.lat;
    }
}

TEST(CubeFaces, SixFilesPerMapInItsFormatWithItsProvenance) {
    testing::ScratchDir dir;
    RenderParams p;
    p.CubeMapFaces = true;
    p.HeightBitDepth = 16;
    p.SettingsText = "CubeMapFaces True\r\n";
    p.OutputColorMap = dir / "planet.color.png";  // only the last dot starts the extension
    p.OutputBumpMap = dir / "bump.png";
    p.OutputSpeculerMap = dir / "spec.jpg";
    p.ColorMapImage = MapOf(40, 20, [](double, double) { return FloatPixel{200, 100, 50, 255}; });
    p.BumpMapImage = MapOf(40, 20, [](double, double) { return FloatPixel{128, 128, 128, 255}; });
    p.SpecularMapImage = MapOf(3, 2, [](double, double) { return FloatPixel{255, 255, 255, 255}; });
    RenderContext ctx;
    ctx.threads = 2;
    ASSERT_TRUE(SaveRenderMaps(p, nullptr, nullptr, &ctx));
    EXPECT_EQ(dir.Count(), 3u * 7u);
    for (const CubeFace face : kCubeFaces) {
        const std::string suffix(CubeFaceSuffix(face));
        FloatImage image;
        ASSERT_TRUE(LoadImageFile(image, dir / ("planet.color" + suffix + ".png")));
        EXPECT_EQ(image.Width, 10);
        EXPECT_EQ(image.Height, 10);
        EXPECT_EQ(image.At(5, 5).R, 200.0f);
        // A bump map's faces are heights like the map: 16-bit grey at this depth.
        EXPECT_EQ(
            testing::ReadGray16WithLibpng(testing::ReadBytes(dir / ("bump" + suffix + ".png")))
                .size(),
            100u);
        ASSERT_TRUE(LoadImageFile(image, dir / ("spec" + suffix + ".jpg")));
        EXPECT_EQ(image.Width, 1);  // a map narrower than 4 still gets one-pixel faces
        for (const char* name : {"planet.color", "bump", "spec"}) {
            const std::string file = dir / (name + suffix + (name[0] == 's' ? ".jpg" : ".png"));
            MapProvenance provenance;
            ASSERT_TRUE(ReadMapProvenance(file, provenance)) << file;
            EXPECT_EQ(provenance.settingsText, p.SettingsText) << file;
        }
    }

    // A face that cannot be written is named, and the maps after it are not written.
    std::filesystem::remove(dir / "bump_nx.png");
    std::filesystem::create_directory(dir / "bump_nx.png");
    p.OutputNormalMap = dir / "normal.png";
    p.NormalMapImage = MapOf(8, 4, [](double, double) { return FloatPixel{128, 128, 255, 255}; });
    std::string failed, reason;
    EXPECT_FALSE(SaveRenderMaps(p, &failed, &reason));
    EXPECT_EQ(failed, dir / "bump_nx.png");
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "normal.png"));
}

}  // namespace
}  // namespace globeforge
