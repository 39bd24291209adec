#include "pipeline/render_job.h"

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <system_error>

#include "output/save_maps.h"
#include "render/render_planet.h"

namespace globeforge {

RenderJobResult RunRenderJob(RenderParams& params, RenderContext& ctx, const RenderJob& job) {
    using End = RenderJobResult::End;
    RenderJobResult result;
    std::optional<MapPreEncoder> early;
    try {
        if (job.saveMaps && job.encodeEarly && ctx.threads > 1) early.emplace(params, ctx);
        result.rendered = RenderPlanet(params, ctx);
    } catch (const std::bad_alloc&) {
        // Not every buffer of the stages is checked as it is made; one that cannot be had
        // (an address-space limit, an overcommitted machine) ends the render like the
        // checked ones do.
        result.rendered = false;
        ctx.failure =
            "not enough memory for a " +
            std::to_string(int64_t{params.OutputResolutionX} * params.OverSampling) + " x " +
            std::to_string(int64_t{params.OutputResolutionY} * params.OverSampling) + " render";
    } catch (const std::system_error& e) {
        // A thread whose stack cannot be had, for the same reasons.
        result.rendered = false;
        ctx.failure = std::string("cannot start the render's threads: ") + e.what();
    }
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
