// The content of a BrushCache, shared by the patterns that fill it and the deferred brushes
// that read it.
#pragma once

#include <cstdint>
#include <optional>

#include "core/progress.h"
#include "generate/brush_cache.h"
#include "generate/carving.h"
#include "generate/disc_classes.h"
#include "image/float_image.h"
#include "image/source_layout.h"

namespace globeforge::pattern_detail {

// What the centred disc of a brush depends on: its profile and the brush.
struct DiscKey {
    bool ring;
    uint64_t parameterBits;  // the bias or exponent
    int32_t width, height;
    bool useR, useG, useB;
    friend bool operator==(const DiscKey&, const DiscKey&) = default;
};

// The last centred disc computed: the brushes of a pass mostly share one, so a redraw
// usually finds it here and only the carving remains. Also the carving's tables.
struct BrushMemo {
    std::optional<DiscKey> key;
    std::optional<DiscClasses<FloatPixel>> disc;
    bool discFilled = false;  // disc holds the current key's classes
    // The layout of the plane a carving of the disc can work in alone, once asked (General:
    // none; see PlaneLayoutOf).
    std::optional<SourceLayout> layout;
    std::optional<DiscClasses<float>> plane;  // the disc's carved channel, as a quadrant
    bool planeMade = false;                   // plane is of the current disc
    Carving carving;
    // The image of the innermost DeferredBrush; the image whose pixels are still only in
    // carving.plane (clipped), and the plane's layout.
    const FloatImage* deferred = nullptr;
    FloatImage* pending = nullptr;
    SourceLayout pendingLayout = SourceLayout::General;
};

// Writes the image whose pixels are still only in the carving plane, if there is one.
void WritePending(BrushMemo& memo, RenderContext& ctx);

}  // namespace globeforge::pattern_detail
