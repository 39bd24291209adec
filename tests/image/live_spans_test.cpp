#include "image/live_spans.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <random>
#include <vector>

#include "image/stretch_plan.h"

namespace globeforge {
namespace {

// A brush-like plane, width x height: rows all zero (some -0), a disc's chord, a ring's two
// chords, scattered samples, and rows of more runs than a row keeps spans.
std::vector<float> HostilePlane(int32_t w, int32_t h, std::mt19937& gen) {
    std::uniform_real_distribution<float> value(0.0f, 300.0f);
    std::uniform_int_distribution<int32_t> column(0, w);
    std::uniform_int_distribution<int> kind(0, 4);
    std::bernoulli_distribution coin(0.15);
    const float specials[] = {0x1p-149f, 0x1p-140f, 1.0f + 0x1p-23f, 3e38f};
    std::vector<float> plane(static_cast<size_t>(w) * h, 0.0f);
    for (int32_t y = 0; y < h; ++y) {
        float* row = plane.data() + static_cast<size_t>(y) * w;
        const auto fill = [&](int32_t x0, int32_t x1) {
            for (int32_t x = std::max(x0, 0); x < std::min(x1, w); ++x) {
                row[x] = coin(gen) ? specials[x % 4] : value(gen);
            }
        };
        const int32_t a = column(gen), b = column(gen);
        switch (kind(gen)) {
            case 0:
                if (coin(gen)) std::fill(row, row + w, -0.0f);
                break;
            case 1:
                fill(std::min(a, b), std::max(a, b));
                break;
            case 2:
                fill(std::min(a, b) - 3, std::min(a, b));
                fill(std::max(a, b), std::max(a, b) + 2);
                break;
            case 3:
                for (int32_t x = 0; x < w; ++x) row[x] = coin(gen) ? value(gen) : 0.0f;
                break;
            default:
                for (int32_t x = a % 11; x < w; x += 19) fill(x, x + 1);
        }
    }
    return plane;
}

TEST(LiveSpans, HoldEveryValueThatIsNotZero) {
    std::mt19937 gen(5);
    for (int round = 0; round < 40; ++round) {
        const int32_t w = 1 + round * 3, h = 9;
        const std::vector<float> plane = HostilePlane(w, h, gen);
        FloatImage image = *NewImage(w, h);
        for (size_t i = 0; i < plane.size(); ++i) {
            // Only one channel carries the value, and a -0 elsewhere is still zero.
            image.Data()[i] = {-0.0f, 0.0f, 0.0f, 0.0f};
            (&image.Data()[i].R)[i % 4] = plane[i];
        }
        LiveSpans fromPlane, fromImage;
        fromPlane.Reset(w, h);
        fromImage.Reset(w, h);
        fromPlane.FindRows(plane.data(), 0, 4);
        fromPlane.FindRows(plane.data(), 4, h);
        fromImage.FindRows(image, 0, h);
        for (const LiveSpans* live : {&fromPlane, &fromImage}) {
            for (int32_t y = 0; y < h; ++y) {
                const std::span<const LiveSpans::Span> spans = live->Row(y);
                ASSERT_LE(spans.size(), static_cast<size_t>(LiveSpans::kPerRow));
                int32_t end = 0;
                for (const LiveSpans::Span& s : spans) {
                    ASSERT_TRUE(s.x0 > end || (end == 0 && s.x0 >= 0)) << "in order, apart";
                    ASSERT_LT(s.x0, s.x1);
                    for (int32_t x = end; x < s.x0; ++x) {
                        ASSERT_EQ(std::bit_cast<uint32_t>(plane[y * w + x]) << 1, 0u)
                            << "round " << round << " row " << y << " column " << x;
                    }
                    end = s.x1;
                }
                ASSERT_LE(end, w);
                for (int32_t x = end; x < w; ++x) {
                    ASSERT_EQ(std::bit_cast<uint32_t>(plane[y * w + x]) << 1, 0u);
                }
                if (std::all_of(plane.begin() + y * w, plane.begin() + (y + 1) * w,
                                [](float v) { return v == 0.0f; })) {
                    ASSERT_TRUE(spans.empty()) << "a row of zeros (or -0) has no span";
                }
            }
        }
    }
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Paints the plan in bands of rows, with and without the spans, and into a window of columns.
template <typename Src, typename Make>
void ExpectSamePixels(const StretchPlan& plan, const Src& src, const LiveSpans& live,
                      const Make& makeTarget, int32_t height, int32_t x0, int32_t x1,
                      const char* what, int round) {
    auto [full, fullTarget] = makeTarget();
    auto [skip, skipTarget] = makeTarget();
    for (int32_t y = 0; y < height; y += 3) {
        const int32_t end = std::min(height, y + 3);
        plan.PaintBand(src, fullTarget, y, end, x0, x1);
        plan.PaintBand(StretchSource(src, &live), skipTarget, y, end, x0, x1);
    }
    ASSERT_TRUE(SameBits(full, skip)) << what << ", round " << round;
}

TEST(LiveSpans, PaintingOnlyTheirColumnsChangesNoBit) {
    std::mt19937 gen(43);
    std::uniform_int_distribution<int32_t> pos(-40, 40);
    std::uniform_int_distribution<int32_t> size(1, 70);
    const BlendMode modes[] = {BlendMode::Add, BlendMode::Sub, BlendMode::Norm,
                               BlendMode::AddDirect, BlendMode::SubDirect};
    const SourceLayout layouts[] = {SourceLayout::Gray, SourceLayout::OnlyR, SourceLayout::OnlyB,
                                    SourceLayout::General};
    const int32_t dw = 37, dh = 23;
    std::vector<float> dstValues(static_cast<size_t>(dw) * dh * 4);
    std::uniform_real_distribution<float> value(-50.0f, 300.0f);
    for (float& v : dstValues) v = value(gen);
    dstValues[5] = -0.0f;
    for (int round = 0; round < 500; ++round) {
        const int32_t sw = 1 + round % 29, sh = 1 + round % 13;
        const std::vector<float> plane = HostilePlane(sw, sh, gen);
        const SourceLayout layout = layouts[round % 4];
        FloatImage image = *NewImage(sw, sh);
        for (size_t i = 0; i < plane.size(); ++i) {
            const float v = plane[i];
            FloatPixel& p = image.Data()[i];
            p = layout == SourceLayout::Gray    ? FloatPixel{v, v, v, v}
                : layout == SourceLayout::OnlyR ? FloatPixel{v, 0.0f, 0.0f, v}
                : layout == SourceLayout::OnlyB ? FloatPixel{0.0f, 0.0f, v, v}
                                                : FloatPixel{v, -v, 0.5f * v, v};
        }
        LiveSpans fromPlane, fromImage;
        fromPlane.Reset(sw, sh);
        fromPlane.FindRows(plane.data(), 0, sh);
        fromImage.Reset(sw, sh);
        fromImage.FindRows(image, 0, sh);
        // Whole brushes (as stamps read them) and parts reaching past the source, which
        // read its columns over again.
        const ImageRect srcRect =
            round % 3 != 0 ? ImageRect{0, 0, sw, sh}
                           : ImageRect{pos(gen) / 4, pos(gen) / 4, size(gen), size(gen) / 3 + 1};
        const ImageRect dstRect{pos(gen), pos(gen), size(gen), size(gen)};
        const BlendMode mode = modes[(round / 4) % 5];
        const Wrap wrap = round % 7 == 0 ? Wrap::Off : Wrap::On;
        const int32_t x0 = round % 5 == 0 ? pos(gen) / 2 : 0;
        const int32_t x1 = round % 5 == 0 ? x0 + size(gen) / 2 : dw;
        for (const StretchSampling sampling :
             {StretchSampling::Nearest, StretchSampling::Bilinear}) {
            const StretchPlan plan(sw, sh, layout, srcRect, dw, dh, dstRect, wrap, mode, sampling);
            const auto makeImage = [&] {
                std::pair<std::vector<float>, FloatImage> made{dstValues, *NewImage(dw, dh)};
                std::memcpy(made.second.Data(), dstValues.data(), dstValues.size() * 4);
                return made;
            };
            // The image's pixels are compared through a copy of their floats.
            const auto imageBits = [&](const auto& src, const LiveSpans& live) {
                auto [full, fullImage] = makeImage();
                auto [skip, skipImage] = makeImage();
                for (int32_t y = 0; y < dh; y += 4) {
                    const int32_t end = std::min(dh, y + 4);
                    plan.PaintBand(src, fullImage, y, end, x0, x1);
                    plan.PaintBand(StretchSource(src, &live), skipImage, y, end, x0, x1);
                }
                return std::memcmp(fullImage.Data(), skipImage.Data(), dstValues.size() * 4) == 0;
            };
            ASSERT_TRUE(imageBits(image, fromImage)) << "image source, round " << round;
            if (layout == SourceLayout::General) continue;
            ASSERT_TRUE(imageBits(plane.data(), fromPlane)) << "plane source, round " << round;
            if (mode == BlendMode::Norm) continue;
            const auto makePlanes = [&] {
                std::pair<std::vector<float>, GrayPlanes> made{
                    std::vector<float>(dstValues.begin(), dstValues.begin() + 2 * dw * dh), {}};
                made.second = {made.first.data(), made.first.data() + dw * dh, dw, dh};
                return made;
            };
            if (layout == SourceLayout::Gray) {
                ExpectSamePixels(plan, plane.data(), fromPlane, makePlanes, dh, x0, x1,
                                 "gray planes", round);
            } else {
                const auto makeChannel = [&] {
                    std::pair<std::vector<float>, ChannelPlane> made{
                        std::vector<float>(dstValues.begin(), dstValues.begin() + dw * dh), {}};
                    made.second = {made.first.data(), dw, dh};
                    return made;
                };
                ExpectSamePixels(plan, plane.data(), fromPlane, makeChannel, dh, x0, x1,
                                 "channel plane", round);
            }
        }
    }
}

}  // namespace
}  // namespace globeforge
