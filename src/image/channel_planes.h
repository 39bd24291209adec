// Images held as planes of one float per pixel: the stretch plans paint one-channel and gray
// brushes into them, a quarter or a half of the bytes of a FloatImage.
#pragma once

#include <cstddef>
#include <cstdint>

namespace globeforge {

// One channel of an image held on its own, one float per pixel, row after row.
struct ChannelPlane {
    float* data = nullptr;
    int32_t Width = 0;
    int32_t Height = 0;
    size_t PixelCount() const { return static_cast<size_t>(Width) * static_cast<size_t>(Height); }
    float* Row(int32_t y) const { return data + static_cast<size_t>(y) * Width; }
};

// A gray image (R, G and B equal bit for bit) held as two planes: the value and A.
struct GrayPlanes {
    float* value = nullptr;
    float* alpha = nullptr;
    int32_t Width = 0;
    int32_t Height = 0;

    // One pixel of the planes, and a row of them.
    struct Ref {
        float& v;
        float& a;
    };
    struct RowRef {
        float* v;
        float* a;
        Ref operator[](size_t x) const { return {v[x], a[x]}; }
        RowRef operator+(size_t x) const { return {v + x, a + x}; }
    };
    size_t PixelCount() const { return static_cast<size_t>(Width) * static_cast<size_t>(Height); }
    RowRef Row(int32_t y) const {
        const size_t at = static_cast<size_t>(y) * Width;
        return {value + at, alpha + at};
    }
};

}  // namespace globeforge
