#include "image/stretch_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

namespace globeforge {
namespace {

bool SameBytes(const FloatImage& a, const FloatImage& b) {
    return a.Width == b.Width && a.Height == b.Height &&
           std::memcmp(a.Data(), b.Data(), a.PixelCount() * sizeof(FloatPixel)) == 0;
}

FloatImage Copy(const FloatImage& image) {
    FloatImage copy = *NewImage(0, 0);
    CopyImage(copy, image);
    return copy;
}

// A source of the given layout with transparent pixels, exact zeros and fractions, and
// values whose lerps and blend terms fall on ties of the float grid, under the smallest
// normal float or beyond the largest float.
FloatImage Source(SourceLayout layout, int32_t w, int32_t h, std::mt19937& gen) {
    std::uniform_real_distribution<float> value(0.0f, 300.0f);
    std::bernoulli_distribution zero(0.25);
    std::bernoulli_distribution special(0.2);
    const float specials[] = {1.0f, 1.0f + 0x1p-23f, 255.0f, 0x1p-140f, 3e38f, 16777215.0f};
    std::uniform_int_distribution<size_t> pick(0, std::size(specials) - 1);
    FloatImage image = *NewImage(w, h);
    for (size_t i = 0; i < image.PixelCount(); ++i) {
        FloatPixel& p = image.Data()[i];
        const float v = zero(gen) ? 0.0f : special(gen) ? specials[pick(gen)] : value(gen);
        switch (layout) {
            case SourceLayout::General:
                p = {value(gen) - 40.0f, zero(gen) ? -0.0f : value(gen), v,
                     zero(gen) ? 0.0f : value(gen)};
                break;
            case SourceLayout::Gray:
                p = {v, v, v, zero(gen) ? 0.0f : value(gen)};
                break;
            case SourceLayout::OnlyR:
                p = {v, 0.0f, 0.0f, v};
                break;
            case SourceLayout::OnlyG:
                p = {0.0f, v, 0.0f, v};
                break;
            case SourceLayout::OnlyB:
                p = {0.0f, 0.0f, v, v};
                break;
        }
    }
    return image;
}

// Paints every band of rows, in a shuffled order, with bands of a random height; src is
// the source image or the plane of its values.
template <typename Source, typename Dest>
void PaintShuffled(const StretchPlan& plan, const Source& src, Dest& dst, std::mt19937& gen) {
    const int32_t band = std::uniform_int_distribution<int32_t>(1, 6)(gen);
    std::vector<int32_t> starts;
    for (int32_t y = 0; y < dst.Height; y += band) starts.push_back(y);
    std::shuffle(starts.begin(), starts.end(), gen);
    for (const int32_t y : starts) plan.PaintBand(src, dst, y, std::min(dst.Height, y + band));
}

TEST(StretchPlan, BandsInAnyOrderPaintWhatTheStretchBlendsPaint) {
    std::mt19937 gen(2024);
    std::uniform_int_distribution<int32_t> pos(-30, 40);
    std::uniform_int_distribution<int32_t> size(0, 45);
    const SourceLayout layouts[] = {SourceLayout::General, SourceLayout::Gray, SourceLayout::OnlyR,
                                    SourceLayout::OnlyG, SourceLayout::OnlyB};
    const BlendMode modes[] = {BlendMode::Add,       BlendMode::Sub,       BlendMode::Norm,
                               BlendMode::AddDirect, BlendMode::SubDirect, BlendMode{3}};
    // The destination holds -0, negatives and fractions, which the one-channel kernels
    // must leave (or turn to +0) exactly as the full blends do.
    FloatImage dst = Source(SourceLayout::General, 23, 17, gen);
    dst.At(3, 4) = {-0.0f, -0.0f, -0.0f, 255.0f};
    for (int round = 0; round < 600; ++round) {
        const SourceLayout layout = layouts[round % 5];
        ASSERT_EQ(FindSourceLayout(Source(layout, 4, 3, gen)) == layout ||
                      layout == SourceLayout::General,
                  true);
        const FloatImage src = Source(layout, 9, 7, gen);
        const ImageRect srcRect =
            round % 3 == 0 ? ImageRect{0, 0, 9, 7}
                           : ImageRect{pos(gen) / 5, pos(gen) / 5, size(gen) / 4, size(gen) / 4};
        const ImageRect dstRect{pos(gen), pos(gen), size(gen), size(gen)};
        const Wrap wrap = round % 2 == 0 ? Wrap::On : Wrap::Off;
        const BlendMode mode = modes[(round / 2) % 6];
        for (const StretchSampling sampling :
             {StretchSampling::Nearest, StretchSampling::Bilinear}) {
            FloatImage expected = Copy(dst);
            if (sampling == StretchSampling::Nearest) {
                StretchBlendNearest(src, srcRect, expected, dstRect, wrap, mode);
            } else {
                StretchBlendBilinear(src, srcRect, expected, dstRect, wrap, mode);
            }
            const StretchPlan plan(src.Width, src.Height, layout, srcRect, dst.Width, dst.Height,
                                   dstRect, wrap, mode, sampling);
            FloatImage actual = Copy(dst);
            PaintShuffled(plan, src, actual, gen);
            ASSERT_TRUE(SameBytes(actual, expected))
                << "round " << round << " sampling " << static_cast<int>(sampling);
            // The source read from the plane of its values, each its own alpha (as the
            // one-channel layouts are; gray made so).
            if (layout == SourceLayout::General) continue;
            FloatImage same = Copy(src);
            std::vector<float> plane;
            for (size_t i = 0; i < same.PixelCount(); ++i) {
                FloatPixel& p = same.Data()[i];
                if (layout == SourceLayout::Gray) p.A = p.R;
                plane.push_back(p.A);
            }
            if (layout == SourceLayout::Gray) {
                expected = Copy(dst);
                if (sampling == StretchSampling::Nearest) {
                    StretchBlendNearest(same, srcRect, expected, dstRect, wrap, mode);
                } else {
                    StretchBlendBilinear(same, srcRect, expected, dstRect, wrap, mode);
                }
            }
            FloatImage fromPlane = Copy(dst);
            PaintShuffled(plan, plane.data(), fromPlane, gen);
            ASSERT_TRUE(SameBytes(fromPlane, expected)) << "plane, round " << round;
            if (mode == BlendMode::Norm) continue;
            if (layout == SourceLayout::Gray) {
                // A gray destination held as a value plane and an alpha plane.
                FloatImage grayDst = Copy(dst);
                std::vector<float> value, alpha;
                for (size_t i = 0; i < grayDst.PixelCount(); ++i) {
                    FloatPixel& p = grayDst.Data()[i];
                    p.G = p.B = p.R;
                    value.push_back(p.R);
                    alpha.push_back(p.A);
                }
                FloatImage grayExpected = Copy(grayDst);
                if (sampling == StretchSampling::Nearest) {
                    StretchBlendNearest(same, srcRect, grayExpected, dstRect, wrap, mode);
                } else {
                    StretchBlendBilinear(same, srcRect, grayExpected, dstRect, wrap, mode);
                }
                GrayPlanes planes{value.data(), alpha.data(), dst.Width, dst.Height};
                PaintShuffled(plan, plane.data(), planes, gen);
                for (size_t i = 0; i < value.size(); ++i) {
                    grayDst.Data()[i] = {value[i], value[i], value[i], alpha[i]};
                }
                ASSERT_TRUE(SameBytes(grayDst, grayExpected)) << "gray planes, round " << round;
                continue;
            }
            // A one-channel source painted into a plane of the destination's channel alone.
            const size_t ch = layout == SourceLayout::OnlyR   ? 0
                              : layout == SourceLayout::OnlyG ? 1
                                                              : 2;
            std::vector<float> channel(dst.PixelCount());
            for (size_t i = 0; i < channel.size(); ++i) channel[i] = (&dst.Data()[i].R)[ch];
            const std::vector<float> before = channel;
            ChannelPlane into{channel.data(), dst.Width, dst.Height};
            PaintShuffled(plan, plane.data(), into, gen);
            for (size_t i = 0; i < channel.size(); ++i) {
                ASSERT_EQ(std::bit_cast<uint32_t>(channel[i]),
                          std::bit_cast<uint32_t>((&expected.Data()[i].R)[ch]))
                    << "channel plane, round " << round << " pixel " << i;
            }
            // Only a window of columns: the same pixels there, none touched elsewhere.
            const int32_t x0 = pos(gen) % dst.Width, x1 = x0 + size(gen) % dst.Width;
            std::vector<float> windowed = before;
            ChannelPlane part{windowed.data(), dst.Width, dst.Height};
            for (int32_t y = 0; y < dst.Height; y += 4) {
                plan.PaintBand(plane.data(), part, y, std::min(dst.Height, y + 4), x0, x1);
            }
            for (size_t i = 0; i < channel.size(); ++i) {
                const int32_t x = static_cast<int32_t>(i % dst.Width);
                ASSERT_EQ(std::bit_cast<uint32_t>(windowed[i]),
                          std::bit_cast<uint32_t>(x >= x0 && x < x1 ? channel[i] : before[i]))
                    << "window " << x0 << ".." << x1 << ", round " << round << " pixel " << i;
            }
        }
    }
}

TEST(StretchPlan, RectanglesLargerThanTheImageWrapRepeatedly) {
    std::mt19937 gen(7);
    const FloatImage src = Source(SourceLayout::OnlyG, 5, 4, gen);
    FloatImage dst = *NewFilledImage(6, 5, kOpaqueBlack);
    const ImageRect dstRect{-13, -11, 31, 23};  // covers every pixel several times
    FloatImage expected = Copy(dst);
    StretchBlendBilinear(src, {0, 0, 5, 4}, expected, dstRect, Wrap::On, BlendMode::Add);
    const StretchPlan plan(5, 4, SourceLayout::OnlyG, {0, 0, 5, 4}, 6, 5, dstRect, Wrap::On,
                           BlendMode::Add, StretchSampling::Bilinear);
    PaintShuffled(plan, src, dst, gen);
    EXPECT_TRUE(SameBytes(dst, expected));
    // Nothing to paint: empty rectangles and images.
    EXPECT_TRUE(StretchPlan(5, 4, SourceLayout::General, {0, 0, 5, 4}, 6, 5, {0, 0, 0, 3}, Wrap::On,
                            BlendMode::Add, StretchSampling::Nearest)
                    .Empty());
    EXPECT_TRUE(StretchPlan(0, 0, SourceLayout::General, {0, 0, 5, 4}, 6, 5, {0, 0, 3, 3}, Wrap::On,
                            BlendMode::Add, StretchSampling::Bilinear)
                    .Empty());
}

TEST(StretchPlan, GrayImagesBlendAsTheirColourForms) {
    std::mt19937 gen(11);
    std::uniform_real_distribution<float> value(-50.0f, 300.0f);
    ScalarImage src = *NewScalarImage(8, 6);
    ScalarImage dst = *NewScalarImage(13, 11);
    FloatImage srcColour = *NewImage(8, 6);
    FloatImage dstColour = *NewImage(13, 11);
    for (size_t i = 0; i < src.PixelCount(); ++i) {
        src.Data()[i] = value(gen);
        srcColour.Data()[i] = {src.Data()[i], src.Data()[i], src.Data()[i], 255.0f};
    }
    for (size_t i = 0; i < dst.PixelCount(); ++i) {
        dst.Data()[i] = value(gen);
        dstColour.Data()[i] = {dst.Data()[i], dst.Data()[i], dst.Data()[i], 255.0f};
    }
    for (const ImageRect rect :
         {ImageRect{-3, 2, 7, 7}, ImageRect{5, -4, 20, 20}, ImageRect{1, 1, 1, 1}}) {
        StretchBlendBilinear(srcColour, {0, 0, 8, 6}, dstColour, rect, Wrap::On,
                             BlendMode::AddDirect);
        const StretchPlan plan(8, 6, SourceLayout::Gray, {0, 0, 8, 6}, 13, 11, rect, Wrap::On,
                               BlendMode::AddDirect, StretchSampling::Bilinear);
        // Painted in two windows of columns, the second first: the same pixels.
        ScalarImage windowed = *NewScalarImage(13, 11);
        std::copy(dst.Data(), dst.Data() + dst.PixelCount(), windowed.Data());
        for (int32_t y = 0; y < 11; y += 3) plan.PaintBand(src, dst, y, std::min(11, y + 3));
        for (const int32_t x0 : {4, 0}) {
            plan.PaintBand(src, windowed, 0, 11, x0, x0 == 0 ? 4 : 13);
        }
        for (size_t i = 0; i < dst.PixelCount(); ++i) {
            const FloatPixel p = dstColour.Data()[i];
            ASSERT_EQ(p, (FloatPixel{dst.Data()[i], dst.Data()[i], dst.Data()[i], 255.0f})) << i;
            ASSERT_EQ(std::bit_cast<uint32_t>(windowed.Data()[i]),
                      std::bit_cast<uint32_t>(dst.Data()[i]))
                << "window, pixel " << i;
        }
    }
}

}  // namespace
}  // namespace globeforge
