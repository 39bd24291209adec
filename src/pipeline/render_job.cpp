#include "pipeline/render_job.h"

#include <optional>

#include "output/save_maps.h"
#include "render/render_planet.h"

namespace globeforge {

RenderJobResult RunRenderJob(RenderParams& params, RenderContext& ctx, const RenderJob& job) {
    using End = RenderJobResult::End;
    RenderJobResult result;
    std::optional<MapPreEncoder> early;
    if (job.saveMaps && job.encodeEarly && ctx.threads > 1) early.emplace(params, ctx);
    result.rendered = RenderPlanet(params, ctx);
    if (job.rendered) job.rendered();
    result.failure = ctx.failure;
    if (!result.rendered || (job.stopped && job.stopped())) {
        result.rendered = false;
        result.end = result.failure.empty() ? End::Aborted : End::RenderFailed;
        return result;
    }

    if (job.saveMaps) {
        result.saveFailed = !SaveRenderMaps(params, &result.failedName, &result.reason, &ctx,
                                            early ? &*early : nullptr);
        early.reset();
        if (result.saveFailed) {
            result.end = End::SaveFailed;
            if (!job.picturesAfterFailedSave) return result;
        }
    }
    if (job.pictures) {
        std::string failedName, reason;
        if (!job.pictures(params, ctx, failedName, reason) && !result.saveFailed) {
            result.end = End::PicturesFailed;
            result.failedName = failedName;
            result.reason = reason;
        }
    }
    return result;
}

}  // namespace globeforge
