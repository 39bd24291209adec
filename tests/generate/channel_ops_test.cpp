#include "generate/channel_ops.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <random>

#include "generator_fixtures.h"

namespace globeforge {
namespace {

TEST(ChannelOps, ColourOperationsLeaveAlpha) {
    FloatImage image = MakeImage(2, 1);
    image.At(0, 0) = {-3.0f, 10.0f, 300.0f, 17.0f};
    image.At(1, 0) = {0.5f, -0.25f, 255.0f, 0.0f};
    ClipNegative(image);
    EXPECT_EQ(image.At(0, 0), (FloatPixel{0.0f, 10.0f, 300.0f, 17.0f}));
    ScaleColor(image, 0.5);
    InvertColor(image);
    EXPECT_EQ(image.At(0, 0), (FloatPixel{255.0f, 250.0f, 105.0f, 17.0f}));
    EXPECT_EQ(image.At(1, 0), (FloatPixel{254.75f, 255.0f, 127.5f, 0.0f}));
    FillAlpha(image, 255.0L - 30 / 100.0L * 255.0L);
    EXPECT_EQ(image.At(1, 0), (FloatPixel{254.75f, 255.0f, 127.5f, 178.5f}));
    EXPECT_EQ(IntMax(-4, 3), 3);
}

// Bit for bit, NaN payloads and signed zeros included.
bool SameBits(const FloatImage& a, const FloatImage& b) {
    return a.Width == b.Width && a.Height == b.Height &&
           std::memcmp(a.Data(), b.Data(), a.PixelCount() * sizeof(FloatPixel)) == 0;
}

TEST(ChannelOps, BandedOperationsMatchTheOnePassOnes) {
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> any(-300.0f, 300.0f);
    for (const int threads : {1, 2, 3, 8}) {
        RenderContext ctx;
        ctx.threads = threads;
        for (int shape = 0; shape < 4; ++shape) {
            FloatImage image = MakeImage(19, 53);
            for (size_t i = 0; i < image.PixelCount(); ++i) {
                image.Data()[i] = {any(gen), any(gen), any(gen), any(gen)};
            }
            if (shape == 1) {
                // The lowest value is zero in both signs, far apart: the first one wins.
                for (size_t i = 0; i < image.PixelCount(); ++i) {
                    FloatPixel& p = image.Data()[i];
                    p.R = std::fabs(p.R) + 1;
                    p.G = std::fabs(p.G) + 1;
                    p.B = std::fabs(p.B) + 1;
                }
                image.At(5, 40).G = -0.0f;
                image.At(1, 2).B = 0.0f;
                image.At(7, 9).R = NAN;  // never lowest nor highest
            }
            if (shape == 2) image.At(0, 0).R = NAN;  // a NaN first: nothing changes
            if (shape == 3) FillImage(image, {4.0f, 4.0f, 4.0f, 1.0f});  // flat
            FloatImage serial = MakeImage(0, 0);
            CopyImage(serial, image);
            FloatImage banded = MakeImage(0, 0);
            CopyImage(banded, image, ctx);
            ASSERT_TRUE(SameBits(banded, serial));
            NormalizeImage(serial);
            NormalizeImage(banded, ctx);
            ASSERT_TRUE(SameBits(banded, serial)) << threads << " threads, shape " << shape;
            ScaleColor(serial, 0.37);
            ScaleColor(banded, 0.37, ctx);
            ASSERT_TRUE(SameBits(banded, serial));
        }
        FloatImage filled = MakeImage(5, 40);
        FillImage(filled, {1.0f, 2.0f, 3.0f, 4.0f}, ctx);
        for (size_t i = 0; i < filled.PixelCount(); ++i) {
            ASSERT_EQ(filled.Data()[i], (FloatPixel{1.0f, 2.0f, 3.0f, 4.0f}));
        }
    }
}

}  // namespace
}  // namespace globeforge
