#include "core/stage_names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "render/render_planet.h"

namespace globeforge {
namespace {

class MessageSink : public ProgressSink {
  public:
    void DrawProgressImage(const FloatImage&) override {}
    void SetMessage(std::string_view message) override { messages.emplace_back(message); }
    void ProcessPendingEvents() override {}
    std::vector<std::string> messages;
};

}  // namespace

// A stage message missing from the table would get the generic slug and no English text.
TEST(StageNames, KnowEveryMessageOfAFullRenderWithUniqueFileSafeSlugs) {
    RenderContext ctx;
    MessageSink sink;
    ctx.SetProgressTargets(&sink);
    RenderParams params;
    params.OutputResolutionX = 32;
    params.OutputResolutionY = 16;
    params.GroundAutoCreate = true;
    params.CloudAutoCreate = true;
    params.NumberOfCraters = 4;
    params.OutputColorMap = "c.bmp";
    params.OutputSpeculerMap = "s.bmp";
    params.OutputBumpMap = "b.bmp";
    params.OutputCloudColorMap = "cc.bmp";
    params.OutputCloudBumpMap = "cb.bmp";
    params.OutputCloudTransparencyMap = "ct.bmp";
    params.OutputNormalMap = "n.png";
    ASSERT_TRUE(RenderPlanet(params, ctx));
    std::set<std::string> seen;
    for (const std::string& message : sink.messages) {
        const StageName* name = FindStageName(message);
        ASSERT_NE(name, nullptr) << message;
        seen.insert(message);
    }
    EXPECT_EQ(seen.size(), StageNames().size() - 1) << "every message but the abort";

    std::set<std::string_view> slugs;
    for (const StageName& name : StageNames()) {
        EXPECT_TRUE(slugs.insert(name.slug).second) << name.slug;
        EXPECT_NE(name.slug, kGenericStageSlug);
        for (const char c : name.slug) {
            EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-') << name.slug;
        }
        for (const char c : name.english) EXPECT_TRUE(c >= 0x20 && c < 0x7f) << name.english;
    }
    EXPECT_EQ(StageSlug("地表ハイトマップ：南半球クレーター展開終了"), "craters-south-projected");
    EXPECT_EQ(StageSlug("未知の段階"), kGenericStageSlug);
    EXPECT_EQ(FindStageName("作画終了 "), nullptr);
}

}  // namespace globeforge
