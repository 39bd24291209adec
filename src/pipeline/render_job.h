// One render as every front end runs it: render the maps, save the named ones, then make
// the pictures drawn from them (the window's globe, the command line's globe and turntable,
// the batch's thumbnail). The window, the command line and the batch differ only in the
// hooks they hand in.
#pragma once

#include <functional>
#include <string>

#include "core/progress.h"
#include "core/render_params.h"

namespace globeforge {

struct RenderJob {
    // Write the maps whose output names are set (the window's quick preview writes none).
    bool saveMaps = true;
    // With more than one thread, encode the finished maps while the rest are built.
    bool encodeEarly = true;
    // Make the pictures even when a map could not be written (the window still shows its
    // globe then); otherwise a failed save ends the job.
    bool picturesAfterFailedSave = false;
    // Called as soon as the render returns, whatever its outcome (progress teardown).
    std::function<void()> rendered;
    // A stop from outside that came after the last row the render looked at: the render
    // then counts as aborted and nothing is written.
    std::function<bool()> stopped;
    // The pictures of a finished render, after its maps; false with failedName and reason
    // set when one cannot be made.
    std::function<bool(RenderParams& params, RenderContext& ctx, std::string& failedName,
                       std::string& reason)>
        pictures;
};

struct RenderJobResult {
    enum class End { Done, Aborted, RenderFailed, SaveFailed, PicturesFailed };
    End end = End::Done;
    bool rendered = false;    // the render ran to its end
    bool saveFailed = false;  // a map could not be written (failedName, reason)
    std::string failure;      // RenderFailed: the render's reason (ctx.failure)
    std::string failedName;   // SaveFailed, PicturesFailed: the file
    std::string reason;       // SaveFailed, PicturesFailed: why
};

RenderJobResult RunRenderJob(RenderParams& params, RenderContext& ctx, const RenderJob& job);

}  // namespace globeforge
