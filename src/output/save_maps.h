// Writing the maps of a finished render to their files, in a fixed order, stopping at the
// first one that cannot be written.
#pragma once

#include <string>

#include "core/render_params.h"

namespace globeforge {

// Writes every map whose output name is set, in the order colour, specular, bump, cloud
// colour, cloud bump, cloud transparency, normal; the format follows each name's extension.
// The two bump maps are written as heights (HeightBitDepth), and every map carries the
// settings text of the render. A map that was requested but not built fails like a write
// error. False at the first failure, with the maps before it written; failedName and
// reason, when given, say which and why. Up to threads maps are encoded at the same time;
// the files are the same for any count.
bool SaveRenderMaps(const RenderParams& params, std::string* failedName = nullptr,
                    std::string* reason = nullptr, int threads = 1);

}  // namespace globeforge
