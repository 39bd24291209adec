// What a prepared globe holds: the ground and the cloud layer in the packed form the frames
// read.
#pragma once

#include <optional>

#include "globe/globe.h"
#include "sampling/packed_sampler.h"

namespace globeforge {

struct GlobeScene::Data {
    std::optional<PackedSampler<SurfaceTexel>> surface;
    std::optional<PackedSampler<CloudTexel>> clouds;
    bool relief = false;
    bool specular = false;
    bool cloudsOnGroundGrid = false;  // the clouds can take the ground's level choice
};

}  // namespace globeforge
