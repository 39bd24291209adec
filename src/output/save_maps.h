// Writing the maps of a finished render to their files, in a fixed order, stopping at the
// first one that cannot be written.
#pragma once

#include <string>

#include "core/render_params.h"

namespace globeforge {

class RenderContext;

// Writes every map whose output name is set, in the order colour, specular, bump, cloud
// colour, cloud bump, cloud transparency, normal; the format follows each name's extension.
// The two bump maps are written as heights (HeightBitDepth), and every map carries the
// settings text of the render. With CubeMapFaces each map is followed by its six cube faces
// (cube_faces.h), in the map's format and with its provenance, resampled on the context's
// threads (one without a context). A map that was requested but not built fails like a write
// error. False at the first failure, with the files before it written; failedName and
// reason, when given, say which and why. Up to the context's threads maps are encoded at the
// same time, each thread taking the next map when it is done with one; the files are the
// same for any count.
bool SaveRenderMaps(const RenderParams& params, std::string* failedName = nullptr,
                    std::string* reason = nullptr, RenderContext* ctx = nullptr);

}  // namespace globeforge
