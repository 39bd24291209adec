#include "core/render_params.h"

namespace globeforge {

void FreeRenderMaps(RenderParams& params) {
    params.ColorMapImage.reset();
    params.SpecularMapImage.reset();
    params.BumpMapImage.reset();
    params.CloudColorMapImage.reset();
    params.CloudBumpMapImage.reset();
    params.CloudTransparencyMapImage.reset();
    params.NormalMapImage.reset();
}

bool MixCloudsIntoGround(const RenderParams& params) {
    return params.OutputCloudColorMap.empty() && params.OutputCloudBumpMap.empty() &&
           params.OutputCloudTransparencyMap.empty();
}

}  // namespace globeforge
