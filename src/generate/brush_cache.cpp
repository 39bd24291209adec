#include "generate/brush_cache.h"

#include "core/parallel.h"
#include "generate/brush_memo.h"

namespace globeforge {

namespace pattern_detail {

void WritePending(BrushMemo& memo, RenderContext& ctx) {
    FloatImage* image = memo.pending;
    if (!image) return;
    const float* plane = memo.carving.plane.data();
    ParallelForBands(ctx, image->Height, kPatternBandRows, [&](int64_t y0, int64_t y1) {
        ExpandPlane(plane, *image, memo.pendingLayout, y0, y1);
    });
    memo.pending = nullptr;
}

}  // namespace pattern_detail

using pattern_detail::BrushMemo;

BrushCache::BrushCache() = default;
BrushCache::~BrushCache() = default;

void BrushCache::Release() {
    memo_.reset();
}

BrushMemo& BrushCache::Memo() {
    if (!memo_) memo_ = std::make_unique<BrushMemo>();
    return *memo_;
}

DeferredBrush::DeferredBrush(FloatImage& brush, BrushCache& cache, RenderContext& ctx)
    : brush_(brush), cache_(cache), ctx_(ctx) {
    // Another brush still waiting is written before this one takes the plane over.
    BrushMemo& memo = cache_.Memo();
    WritePending(memo, ctx_);
    previous_ = memo.deferred;
    memo.deferred = &brush_;
}

DeferredBrush::~DeferredBrush() {
    Take(SourceLayout::General);
    cache_.Memo().deferred = previous_;
}

Brush DeferredBrush::Take(SourceLayout layout, std::vector<float>* storage) {
    BrushMemo& memo = cache_.Memo();
    if (memo.pending == &brush_) {
        // The kept plane serves only its own layout.
        if (layout != SourceLayout::General && layout == memo.pendingLayout) {
            return {&brush_, layout, memo.carving.plane.data()};
        }
        WritePending(memo, ctx_);
    }
    if (!storage) return {&brush_, layout, nullptr};
    storage->resize(brush_.PixelCount());
    const FloatPixel* p = brush_.Data();
    for (size_t i = 0; i < storage->size(); ++i) {
        (*storage)[i] = layout == SourceLayout::OnlyG   ? p[i].G
                        : layout == SourceLayout::OnlyB ? p[i].B
                                                        : p[i].R;
    }
    return {&brush_, layout, storage->data()};
}

}  // namespace globeforge
