// Writing the maps of a finished render to their files, in a fixed order, stopping at the
// first one that cannot be written.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/render_params.h"

namespace globeforge {

class RenderContext;

// Encodes the maps of a render on a thread of its own as the driver finishes them, while it
// builds the rest, so that the largest map's long encoding need not wait for the last map
// to be built. Made before RenderPlanet (it takes the context's mapFinished) and handed to
// SaveRenderMaps after it: a map whose encoding has begun here is taken from here, one not
// yet begun is left to SaveRenderMaps. Only maps under PNG names are taken, since only that
// encoder can stop part way: going away stops an encoding at its next row.
class MapPreEncoder {
  public:
    MapPreEncoder(const RenderParams& params, RenderContext& ctx);
    ~MapPreEncoder();
    MapPreEncoder(const MapPreEncoder&) = delete;
    MapPreEncoder& operator=(const MapPreEncoder&) = delete;

    // The encoding of map if it began here: waits for its end and gives its outcome; false
    // (and the map is no longer taken) otherwise.
    bool Claim(const FloatImage& map, bool& ok, std::vector<uint8_t>& bytes, std::string& why);

  private:
    struct Job {
        const FloatImage* map = nullptr;
        std::string name;
        bool heightMap = false;
        enum { kWaiting, kRunning, kDone, kLeft } state = kWaiting;
        bool ok = false;
        std::vector<uint8_t> bytes;
        std::string why;
    };
    void Finished(const FloatImage& map);
    void Run();

    const RenderParams& params_;
    RenderContext& ctx_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;  // stable addresses as jobs are added
    bool stop_ = false;
    std::atomic<bool> cancel_{false};
    std::thread thread_;
};

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
// With early, the maps it has begun to encode are taken from it.
bool SaveRenderMaps(const RenderParams& params, std::string* failedName = nullptr,
                    std::string* reason = nullptr, RenderContext* ctx = nullptr,
                    MapPreEncoder* early = nullptr);

}  // namespace globeforge
