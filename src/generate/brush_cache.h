// The brush of a stamp pass as the stamps read it, and the cache its pattern redraws share.
// A brush is an image whose channels hold one of a few layouts; a brush of one value per
// pixel (gray, or one channel with the others +0) may be read from a plane of that value
// alone, a quarter of the bytes.
#pragma once

#include <memory>
#include <vector>

#include "core/progress.h"
#include "image/float_image.h"
#include "image/source_layout.h"

namespace globeforge {

namespace pattern_detail {
struct BrushMemo;
}

// A brush as the stamps read it: its image, the layout of its channels, and the plane of
// its values (one float per pixel) when it is read from one. With a plane, the image may
// still be unwritten (see DeferredBrush).
struct Brush {
    const FloatImage* image = nullptr;
    SourceLayout layout = SourceLayout::General;
    const float* plane = nullptr;
};

// What the brush patterns keep from one redraw to the next: the last centred disc and its
// plane, the carving's tables, and the plane a deferred brush waits in. Values of a pure
// function of their key, so keeping them never changes a result; whoever owns the cache
// decides how long they serve (the passes of a render mostly share discs and table sizes).
// Nothing is allocated before the first pattern is drawn with it.
class BrushCache {
  public:
    BrushCache();
    ~BrushCache();
    BrushCache(const BrushCache&) = delete;
    BrushCache& operator=(const BrushCache&) = delete;

    // Gives back every disc, table and plane kept.
    void Release();

    pattern_detail::BrushMemo& Memo();

  private:
    std::unique_ptr<pattern_detail::BrushMemo> memo_;
};

// A brush that stamps alone will read, for the span of a stamp pass. While one lives, a
// pattern drawn into its image with its cache and carved in a plane of one value per pixel
// keeps that plane and leaves the image unwritten: Take hands the plane to the stamps. The
// image is written from the plane when it is asked for otherwise, before a pattern is drawn
// into another image with the cache (which carves the plane again) and when the
// DeferredBrush ends, so the brush always ends as the patterns drew it. Patterns drawn into
// other images are written at once.
class DeferredBrush {
  public:
    DeferredBrush(FloatImage& brush, BrushCache& cache, RenderContext& ctx);
    ~DeferredBrush();
    DeferredBrush(const DeferredBrush&) = delete;
    DeferredBrush& operator=(const DeferredBrush&) = delete;

    // The brush for stamps that read it as layout (the layout its patterns leave). Its plane
    // when the last pattern drawn into it kept one that serves layout (Gray, OnlyR, OnlyG or
    // OnlyB, the value equal to A); otherwise the brush image is written, if it is pending,
    // and the plane is null. With storage and a one-channel layout there is always a plane:
    // without a kept one, that channel of the written brush copied into storage.
    Brush Take(SourceLayout layout, std::vector<float>* storage = nullptr);
    // Take(layout).plane and Take(layout, &storage).plane.
    const float* TakePlane(SourceLayout layout) { return Take(layout).plane; }
    const float* TakeValues(SourceLayout layout, std::vector<float>& storage) {
        return Take(layout, &storage).plane;
    }

  private:
    FloatImage& brush_;
    BrushCache& cache_;
    RenderContext& ctx_;
    const FloatImage* previous_ = nullptr;  // an enclosing DeferredBrush's image
};

}  // namespace globeforge
