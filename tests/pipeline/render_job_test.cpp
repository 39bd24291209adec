#include "pipeline/render_job.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_files.h"

namespace globeforge {
namespace {

namespace fs = std::filesystem;
using End = RenderJobResult::End;

RenderParams SmallParams(const fs::path& colorMap) {
    RenderParams params;
    params.OutputResolutionX = 16;
    params.OutputResolutionY = 8;
    params.OutputColorMap = colorMap.string();
    return params;
}

// Counts the pictures step and gives the outcome it is told to.
struct Pictures {
    int calls = 0;
    bool ok = true;
    RenderJob Job() {
        RenderJob job;
        job.encodeEarly = false;
        job.pictures = [this](RenderParams&, RenderContext&, std::string& name, std::string& why) {
            ++calls;
            name = "globe.png";
            why = "refused";
            return ok;
        };
        return job;
    }
};

TEST(RenderJob, RendersSavesThenMakesThePictures) {
    testing::ScratchDir dir;
    RenderParams params = SmallParams(dir.path() / "color.png");
    RenderContext ctx;
    Pictures pictures;
    const RenderJobResult done = RunRenderJob(params, ctx, pictures.Job());
    EXPECT_EQ(done.end, End::Done);
    EXPECT_TRUE(done.rendered);
    EXPECT_TRUE(fs::exists(params.OutputColorMap));
    EXPECT_EQ(pictures.calls, 1);

    pictures.ok = false;
    const RenderJobResult refused = RunRenderJob(params, ctx, pictures.Job());
    EXPECT_EQ(refused.end, End::PicturesFailed);
    EXPECT_EQ(refused.failedName + ": " + refused.reason, "globe.png: refused");
}

TEST(RenderJob, AFailedSaveEndsTheJobUnlessThePicturesStillWant) {
    testing::ScratchDir dir;
    RenderParams params = SmallParams(dir.path() / "missing" / "color.png");
    RenderContext ctx;
    Pictures pictures;
    RenderJobResult r = RunRenderJob(params, ctx, pictures.Job());
    EXPECT_EQ(r.end, End::SaveFailed);
    EXPECT_TRUE(r.saveFailed);
    EXPECT_EQ(r.failedName, params.OutputColorMap);
    EXPECT_EQ(pictures.calls, 0);

    RenderJob job = pictures.Job();
    job.picturesAfterFailedSave = true;
    pictures.ok = false;  // the save's failure is the one reported
    r = RunRenderJob(params, ctx, job);
    EXPECT_EQ(r.end, End::SaveFailed);
    EXPECT_EQ(r.failedName, params.OutputColorMap);
    EXPECT_EQ(pictures.calls, 1);

    // Without saving, nothing is written and nothing fails.
    job.saveMaps = false;
    pictures.ok = true;
    EXPECT_EQ(RunRenderJob(params, ctx, job).end, End::Done);
}

TEST(RenderJob, AStopAfterTheRenderWritesNothing) {
    testing::ScratchDir dir;
    RenderParams params = SmallParams(dir.path() / "color.png");
    RenderContext ctx;
    Pictures pictures;
    RenderJob job = pictures.Job();
    int renderedCalls = 0;
    job.rendered = [&renderedCalls] { ++renderedCalls; };
    job.stopped = [] { return true; };
    const RenderJobResult r = RunRenderJob(params, ctx, job);
    EXPECT_EQ(r.end, End::Aborted);
    EXPECT_FALSE(r.rendered);
    EXPECT_EQ(renderedCalls, 1);
    EXPECT_FALSE(fs::exists(params.OutputColorMap));
    EXPECT_EQ(pictures.calls, 0);
}

}  // namespace
}  // namespace globeforge
