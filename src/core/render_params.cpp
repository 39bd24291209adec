#include "core/render_params.h"

namespace globeforge {

void FreeRenderMaps(RenderParams& params) {
    for (const MapSlot& slot : kMapSlots) (params.*slot.image).reset();
}

bool MixCloudsIntoGround(const RenderParams& params) {
    return params.OutputCloudColorMap.empty() && params.OutputCloudBumpMap.empty() &&
           params.OutputCloudTransparencyMap.empty();
}

}  // namespace globeforge
