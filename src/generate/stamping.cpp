#include "generate/stamping.h"

#include "generate/curves.h"

namespace globeforge {

BlendMode AddSubCycle(int32_t i) {
    switch (i % 4) {
        case 0:
            return BlendMode::Add;
        case 1:
            return BlendMode::Sub;
        case 2:
            return BlendMode::AddDirect;
        default:
            return BlendMode::SubDirect;
    }
}

ImageRect StampRectangle(const StampPass& pass, int32_t i, int32_t targetHeight,
                         const StampDraws& draws) {
    const int32_t middle = targetHeight / 2;
    const int32_t yoff = Round(CurveIn(0, targetHeight / 2.0, 0, 10000, draws.r1, pass.pLat));
    const bool below =
        pass.hemisphere == HemisphereRule::Alternate ? (i % 2 != 0) : (draws.side >= 5);
    const int32_t cy = below ? middle + yoff : middle - yoff;
    const int32_t size = Round(CurveOut(pass.sMax, pass.sMin, 1000, 0, draws.r2, pass.pSize));
    const int64_t lat = cy > middle ? int64_t{cy} - middle : int64_t{middle} - cy;
    // With a middle row of 0 the interval is empty and the curve gives the polar width.
    const int32_t w0 = Round(
        CurveIn(pass.wEq(size), pass.wPole(size), 0, middle, static_cast<double>(lat), pass.pWide));
    const int32_t width = pass.width(w0, size);
    const int32_t height = pass.height(w0, size);
    return {draws.cx - width / 2, cy - height / 2, width, height};
}

bool RunStampPass(const StampPass& pass, FloatImage& brush, FloatImage& target,
                  RenderContext& ctx) {
    const ImageRect whole{0, 0, brush.Width, brush.Height};
    for (int32_t i = 1; i <= pass.count; ++i) {
        if (i % 10 == 1) pass.redrawBrush(i, brush, ctx.rng);
        StampDraws draws;
        draws.cx = ctx.rng.Random(target.Width);
        draws.r1 = ctx.rng.Random(10000);
        if (pass.hemisphere == HemisphereRule::Drawn) draws.side = ctx.rng.Random(10);
        draws.r2 = ctx.rng.Random(1000);
        const ImageRect rect = StampRectangle(pass, i, target.Height, draws);
        // Wrapping needs at least one pixel to wrap onto.
        if (target.PixelCount() > 0) {
            if (pass.sampling == StampSampling::Nearest) {
                StretchBlendNearest(brush, whole, target, rect, Wrap::On, pass.mode(i));
            } else {
                StretchBlendBilinear(brush, whole, target, rect, Wrap::On, pass.mode(i));
            }
        }
        if (ctx.StepDone(i, pass.count)) return false;
    }
    return true;
}

}  // namespace globeforge
