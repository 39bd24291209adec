// Globe pictures of a finished render, for the command line and the gallery: the render
// builds the maps a globe needs in memory when RenderParams::BuildGlobeMaps is set, and
// these functions draw them and write the picture.
#pragma once

#include <cstdint>
#include <string>

#include "core/progress.h"
#include "core/render_params.h"
#include "globe/globe.h"

namespace globeforge {

// The maps of params as globe inputs: colour, bump (or else the normal map), specular, and
// the cloud colour and transparency maps when the render built them (when no cloud map is
// named the clouds are part of the colour map). Borrowed from params.
GlobeMaps GlobeMapsOf(const RenderParams& params);

// Renders the globe of a finished render and writes it as a PNG file (RGBA, straight alpha),
// through a temporary file renamed into place; the file carries the render's settings text
// like the maps do. False, with error set, when params holds no colour map (render with
// BuildGlobeMaps set, or name a colour map), the options are refused, memory runs out or
// the file cannot be written.
//
// Typical use:
//   params.BuildGlobeMaps = true;
//   if (RenderPlanet(params, ctx)) WriteGlobePng(params, {}, {}, options, "globe.png", ctx, &e);
bool WriteGlobePng(const RenderParams& params, const GlobeCamera& camera, const GlobeSun& sun,
                   const GlobeOptions& options, const std::string& path, RenderContext& ctx,
                   std::string* error = nullptr);

// The same for an already prepared scene; settingsText (may be empty) goes into the file.
bool WriteGlobePng(const GlobeScene& scene, const GlobeCamera& camera, const GlobeSun& sun,
                   const GlobeOptions& options, const std::string& settingsText,
                   const std::string& path, RenderContext& ctx, std::string* error = nullptr);

}  // namespace globeforge
