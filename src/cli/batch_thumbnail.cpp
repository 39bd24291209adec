#include "cli/batch_thumbnail.h"

#include "globe/globe_output.h"

namespace globeforge {

bool WritePlanetThumbnail(const RenderParams& params, const std::string& path, RenderContext& ctx,
                          std::string* why) {
    // A little from above, so the view shows a pole as well as the equator; the page's
    // background shows around the planet.
    GlobeCamera camera;
    camera.latitude = 15;
    GlobeOptions options;
    options.width = options.height = kThumbnailSize;
    options.transparentBackground = true;
    return WriteGlobePng(params, camera, GlobeSun{}, options, path, ctx, why);
}

}  // namespace globeforge
