#include <gtest/gtest.h>

#include "render/render_planet.h"

namespace globeforge {
TEST(RenderPlanet, SmokeRunsToTheEnd) {
    RenderParams params;
    params.OutputResolutionX = 8;
    params.OutputResolutionY = 8;
    RenderContext ctx;
    EXPECT_TRUE(RenderPlanet(params, ctx));
}
}  // namespace globeforge
