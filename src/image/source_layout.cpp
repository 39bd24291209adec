#include "image/source_layout.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace globeforge {

namespace {

bool IsPositiveZero(float v) {
    return std::bit_cast<uint32_t>(v) == 0u;
}

bool SameBits(float a, float b) {
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}

// A channel the one-channel layouts may carry in A: the blend weights by it, so it must be
// a real non-negative number for the other channels' terms to be exactly +0.
bool UsableAlpha(float a) {
    return std::isfinite(a) && a >= 0.0f;
}

}  // namespace

uint32_t SourceLayoutsOf(const FloatPixel* pixels, size_t count) {
    const FloatPixel* end = pixels + count;
    // One tight loop per candidate, each stopping at the first pixel that rules it out: a
    // gray brush fails the one-channel tests within its first row of the disc.
    const auto all = [&](auto&& test) { return std::all_of(pixels, end, test); };
    const auto only = [](auto channel, auto other1, auto other2) {
        return [=](const FloatPixel& q) {
            return IsPositiveZero(q.*other1) && IsPositiveZero(q.*other2) &&
                   SameBits(q.A, q.*channel) && UsableAlpha(q.A);
        };
    };
    const auto bit = [](SourceLayout layout) { return 1u << static_cast<uint32_t>(layout); };
    uint32_t layouts = bit(SourceLayout::General);
    if (all(only(&FloatPixel::R, &FloatPixel::G, &FloatPixel::B)))
        layouts |= bit(SourceLayout::OnlyR);
    if (all(only(&FloatPixel::G, &FloatPixel::R, &FloatPixel::B)))
        layouts |= bit(SourceLayout::OnlyG);
    if (all(only(&FloatPixel::B, &FloatPixel::R, &FloatPixel::G)))
        layouts |= bit(SourceLayout::OnlyB);
    if (all([](const FloatPixel& q) { return SameBits(q.R, q.G) && SameBits(q.R, q.B); })) {
        layouts |= bit(SourceLayout::Gray);
    }
    return layouts;
}

SourceLayout PickSourceLayout(uint32_t layouts) {
    for (const SourceLayout layout :
         {SourceLayout::OnlyR, SourceLayout::OnlyG, SourceLayout::OnlyB, SourceLayout::Gray}) {
        if (layouts & (1u << static_cast<uint32_t>(layout))) return layout;
    }
    return SourceLayout::General;
}

SourceLayout FindSourceLayout(const FloatImage& image) {
    return PickSourceLayout(SourceLayoutsOf(image.Data(), image.PixelCount()));
}

}  // namespace globeforge
