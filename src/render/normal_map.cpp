#include "render/normal_map.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>
#include <optional>
#include <utility>
#include <vector>

#include "core/parallel.h"
#include "exact/extended.h"
#include "generate/channel_ops.h"
#include "image/sphere_slopes.h"
#include "render/ground_maps.h"
#include "render/map_frame.h"

namespace globeforge {

namespace {

// One pixel of the ground bump map's work image, by the bump map's own rule: the sea is a
// flat floor at sea level, and clouds of density 1 or more stand on top of it.
FloatPixel BumpPixel(float h, float seaLevel, const FloatImage* cloud, int32_t x, int32_t y) {
    const float v = h >= seaLevel ? h : seaLevel;
    if (cloud) {
        const FloatPixel cp = GetPixel(*cloud, x, y, Wrap::Off);
        if (cp.R >= 1.0f) {
            return {static_cast<float>(static_cast<Extended>(v) + cp.R),
                    static_cast<float>(static_cast<Extended>(v) + cp.G),
                    static_cast<float>(static_cast<Extended>(v) + cp.B), 255.0f};
        }
    }
    return {v, v, v, 255.0f};
}

// A unit normal as a pixel: each component from -1 .. 1 to 0 .. 255.
FloatPixel EncodeNormal(double nx, double ny, double nz) {
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    const auto encode = [length](double n) {
        return static_cast<float>((n / length + 1.0) * 127.5);
    };
    return {encode(nx), encode(ny), encode(nz), 255.0f};
}

// Turns one row of heights into normals. above and below are the neighbouring rows, or
// null at a pole.
void NormalRow(const SlopeFrame& f, int32_t y, const float* above, const float* row,
               const float* below, FloatImage& out) {
    ForEachRowSlope(f, y, above, row, below, [&](int32_t x, double east, double north) {
        out.At(x, y) = EncodeNormal(-east, -north, 1.0);
    });
}

// Back to unit length after the box filter has averaged neighbouring normals, in the rows
// y0 <= y < y1.
void Renormalize(FloatImage& image, int64_t y0, int64_t y1) {
    FloatPixel* pixels = image.Row(static_cast<int32_t>(y0));
    for (size_t i = 0; i < static_cast<size_t>(y1 - y0) * image.Width; ++i) {
        FloatPixel& p = pixels[i];
        const auto decode = [](float c) { return static_cast<double>(c) / 127.5 - 1.0; };
        const double nx = decode(p.R), ny = decode(p.G), nz = decode(p.B);
        if (nx * nx + ny * ny + nz * nz > 0.0) p = EncodeNormal(nx, ny, nz);
    }
}

}  // namespace

void BuildNormalMap(RenderParams& params, const FloatImage& ground, const FloatImage* cloud,
                    bool mixClouds, RenderContext& ctx) {
    const FloatImage* clouds = mixClouds ? cloud : nullptr;
    const float seaLevel =
        static_cast<float>(static_cast<Extended>(params.CoastLevel) / 100.0L * 255.0L);
    const int32_t w = ground.Width;
    const int32_t h = ground.Height;
    std::optional<FloatImage> work = ctx.NewImage(w, h);
    if (!work) {
        ctx.failure = "not enough memory for the normal map";
        return;
    }
    // Two passes share the gauge: the bump heights, then the normals.
    const bool heights = ParallelRows(
        ctx, h, kBandRows,
        [&](int64_t y0, int64_t y1) {
            for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
                for (int32_t x = 0; x < w; ++x) {
                    work->At(x, y) = BumpPixel(ground.At(x, y).R, seaLevel, clouds, x, y);
                }
            }
        },
        [&](int64_t y) { return ctx.StepDone(y, 2 * int64_t{h}); });
    if (!heights) return;
    NormalizeImage(*work, ctx);

    // The normals overwrite the heights row by row; each band keeps its own rows' heights
    // aside as it goes, and the rows just outside every band are copied before any band
    // starts, since the neighbouring band overwrites them.
    // The settings keep the strength within 1..100; a record filled otherwise gets the same.
    const int32_t strength = std::clamp(params.NormalStrength, 1, 100);
    const SlopeFrame frame =
        MakeSlopeFrame(static_cast<double>(strength) / 100.0 * kNormalReliefAtFullStrength, w, h);
    const auto heightsOf = [&work, w](int32_t y, std::vector<float>& to) {
        to.resize(static_cast<size_t>(w));
        for (int32_t x = 0; x < w; ++x) to[static_cast<size_t>(x)] = work->At(x, y).R;
    };
    std::vector<std::vector<float>> edges(static_cast<size_t>(h));
    for (int64_t y0 = 0; y0 < h; y0 += kBandRows) {
        if (y0 > 0) heightsOf(static_cast<int32_t>(y0 - 1), edges[static_cast<size_t>(y0 - 1)]);
        if (y0 + kBandRows < h) {
            heightsOf(static_cast<int32_t>(y0 + kBandRows),
                      edges[static_cast<size_t>(y0 + kBandRows)]);
        }
    }
    // What a band carries from one row to the next: the heights of the row above and of
    // its current row (with one thread, ParallelRows hands a band over row by row).
    struct BandState {
        std::vector<float> above, row;
    };
    std::vector<BandState> states(static_cast<size_t>((h + kBandRows - 1) / kBandRows));
    const bool normals = ParallelRows(
        ctx, h, kBandRows,
        [&](int64_t y0, int64_t y1) {
            const int64_t bandStart = y0 / kBandRows * kBandRows;
            const int64_t bandEnd = std::min<int64_t>(h, bandStart + kBandRows);
            BandState& state = states[static_cast<size_t>(y0 / kBandRows)];
            if (y0 == bandStart) {
                if (y0 > 0) state.above = edges[static_cast<size_t>(y0 - 1)];
                heightsOf(static_cast<int32_t>(y0), state.row);
            }
            std::vector<float> below;
            for (int32_t y = static_cast<int32_t>(y0); y < y1; ++y) {
                if (y + 1 < h) {
                    if (y + 1 == bandEnd) {
                        below = edges[static_cast<size_t>(y + 1)];
                    } else {
                        heightsOf(y + 1, below);
                    }
                }
                NormalRow(frame, y, y > 0 ? state.above.data() : nullptr, state.row.data(),
                          y + 1 < h ? below.data() : nullptr, *work);
                std::swap(state.above, state.row);
                std::swap(state.row, below);
            }
            if (y1 == bandEnd) state = BandState{};
        },
        [&](int64_t y) { return ctx.StepDone(int64_t{h} + y, 2 * int64_t{h}); });
    if (!normals) return;

    FloatImage* result = FinishMap(params, params.NormalMapImage, *work, "normal map", ctx);
    if (!result) return;
    ParallelForBands(ctx, result->Height, kBandRows,
                     [&](int64_t y0, int64_t y1) { Renormalize(*result, y0, y1); });
    ctx.ReportProgress(*result, "地表・法線テクスチャ作成完了");
}

}  // namespace globeforge
