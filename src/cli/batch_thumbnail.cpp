#include "cli/batch_thumbnail.h"

#include <algorithm>
#include <optional>

#include "globe/globe_output.h"

namespace globeforge {

namespace {

// A 160-pixel globe shows no more of a map than this; larger maps are averaged down first,
// so the globe's preparation of a large render costs little time and memory beside it.
constexpr int32_t kThumbnailMapWidth = 1024;

void Shrink(std::optional<FloatImage>& map) {
    if (!map || map->Width <= kThumbnailMapWidth) return;
    const int32_t f = (map->Width + kThumbnailMapWidth - 1) / kThumbnailMapWidth;
    const int32_t w = std::max(1, map->Width / f), h = std::max(1, map->Height / f);
    std::optional<FloatImage> small = NewImage(w, h);
    if (!small) return;  // the full map still makes the globe
    const double n = static_cast<double>(f) * f;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            double r = 0, g = 0, b = 0, a = 0;
            for (int32_t sy = y * f; sy < y * f + f && sy < map->Height; ++sy) {
                for (int32_t sx = x * f; sx < x * f + f; ++sx) {
                    const FloatPixel& p = map->At(sx, sy);
                    r += p.R;
                    g += p.G;
                    b += p.B;
                    a += p.A;
                }
            }
            small->At(x, y) = {static_cast<float>(r / n), static_cast<float>(g / n),
                               static_cast<float>(b / n), static_cast<float>(a / n)};
        }
    }
    map = std::move(small);
}

}  // namespace

bool WritePlanetThumbnail(RenderParams& params, const std::string& path, RenderContext& ctx,
                          std::string* why) {
    for (const MapSlot& slot : kMapSlots) Shrink(params.*slot.image);
    // A little from above, so the view shows a pole as well as the equator; the page's
    // background shows around the planet.
    GlobeCamera camera;
    camera.latitude = 15;
    GlobeOptions options;
    options.width = options.height = kThumbnailSize;
    options.transparentBackground = true;
    return WriteGlobePng(params, camera, GlobeSun{}, options, path, ctx, why);
}

}  // namespace globeforge
