// Arbitrary values in every field of a render, as a caller of RenderPlanet (not held to the
// window's ranges) may pass them, on maps small enough to render many times a second. Every
// render either runs to the end with all six maps at the output size, or is refused before
// it starts; it never crashes, overflows or hangs.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "render/render_planet.h"

using namespace globeforge;

namespace {

FloatPixel Color(FuzzedDataProvider& in) {
    return MakeColor(in.ConsumeIntegral<uint8_t>(), in.ConsumeIntegral<uint8_t>(),
                     in.ConsumeIntegral<uint8_t>());
}

// Mostly values near the window's ranges, sometimes any int32 at all.
int32_t Value(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) return in.ConsumeIntegral<int32_t>();
    return in.ConsumeIntegralInRange<int32_t>(-10, 110);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    RenderParams p;
    p.OutputResolutionX = in.ConsumeIntegralInRange<int32_t>(-1, 12);
    p.OutputResolutionY = in.ConsumeIntegralInRange<int32_t>(-1, 12);
    p.OverSampling = in.ConsumeIntegralInRange<int32_t>(-1, 3);
    p.RandomSeed = in.ConsumeIntegral<int32_t>();
    p.GroundAutoCreate = in.ConsumeBool();
    p.CloudAutoCreate = in.ConsumeBool();
    p.CloudAlphaReverse = in.ConsumeBool();
    p.OutputTransparencyMode = in.ConsumeBool();
    p.GroundColorHigh = Color(in);
    p.GroundColorLow = Color(in);
    p.SeaColorShallow = Color(in);
    p.SeaColorDeep = Color(in);
    p.IceColor = Color(in);
    p.CloudDarkColor = Color(in);
    p.CloudLightColor = Color(in);
    p.GroundMixtureMode = in.ConsumeIntegralInRange<uint8_t>(0, 3);
    p.CloudMixtureMode = in.ConsumeIntegralInRange<uint8_t>(0, 3);
    p.CloudAlphaMixtureMode = in.ConsumeIntegral<uint8_t>();
    p.GroundContr = Value(in);
    p.GroundXWarp = Value(in);
    p.GroundYWarp = Value(in);
    p.CoastLevel = Value(in);
    p.IceQuantity = Value(in);
    p.NumberOfCraters = in.ConsumeBool() ? in.ConsumeIntegral<int32_t>()
                                         : in.ConsumeIntegralInRange<int32_t>(-2, 50);
    p.CraterBasicRadius = Value(in);
    p.CraterHeight = Value(in);
    p.CraterWarp = Value(in);
    p.CraterNoise = Value(in);
    p.GroundTransparency = Value(in);
    p.CloudAlphaTransparency = Value(in);
    p.CloudQuantity = Value(in);
    p.CloudXWarp = Value(in);
    p.CloudYWarp = Value(in);
    p.CloudTransparency = Value(in);
    p.OutputColorMap = "c.png";
    p.OutputSpeculerMap = "s.png";
    p.OutputBumpMap = "b.png";
    p.OutputCloudColorMap = "cc.png";
    p.OutputCloudBumpMap = "cb.png";
    p.OutputCloudTransparencyMap = "ct.png";

    const bool refused = !CheckRenderSize(p).empty();
    RenderContext ctx;
    const bool rendered = RenderPlanet(p, ctx);
    if (refused) {
        FUZZ_CHECK(!rendered && !ctx.failure.empty() && !p.ColorMapImage);
        return 0;
    }
    FUZZ_CHECK(rendered);
    FUZZ_CHECK(!p.WorkImage);
    for (const auto* map : {&p.ColorMapImage, &p.SpecularMapImage, &p.BumpMapImage}) {
        FUZZ_CHECK(*map && (*map)->Width == p.OutputResolutionX &&
                   (*map)->Height == p.OutputResolutionY);
    }
    // Cloud maps exist exactly when there are clouds to map.
    const bool clouds = p.CloudColorMapImage.has_value();
    for (const auto* map :
         {&p.CloudColorMapImage, &p.CloudBumpMapImage, &p.CloudTransparencyMapImage}) {
        FUZZ_CHECK(map->has_value() == clouds);
        if (clouds) {
            FUZZ_CHECK((*map)->Width == p.OutputResolutionX &&
                       (*map)->Height == p.OutputResolutionY);
        }
    }
    FUZZ_CHECK(clouds == p.CloudAutoCreate);
    return 0;
}
