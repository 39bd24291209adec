#include "output/save_maps.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "core/jpeg_quality.h"
#include "core/progress.h"
#include "core/version.h"
#include "image/atomic_file.h"
#include "image/image_files.h"
#include "output/cube_faces.h"
#include "sampling/map_sampler.h"

namespace globeforge {

namespace {

struct MapToSave {
    const std::string& name;
    const std::optional<FloatImage>& image;
    const char* whyAbsent;
    bool heightMap;
};

// The maps in the order they are written.
std::array<MapToSave, 7> MapsOf(const RenderParams& params) {
    const auto map = [&params](const MapSlot& slot) {
        return MapToSave{params.*slot.name, params.*slot.image,
                         slot.cloud ? "no cloud layer was built" : "the map was not built",
                         slot.heightMap};
    };
    return {map(kMapSlots[0]), map(kMapSlots[1]), map(kMapSlots[2]), map(kMapSlots[3]),
            map(kMapSlots[4]), map(kMapSlots[5]), map(kMapSlots[6])};
}

// A PNG map's compression may use every thread of the render: when maps are encoded side
// by side, it only shares them.
ImageFileOptions OptionsOf(const RenderParams& params, bool heightMap, const RenderContext* ctx) {
    ImageFileOptions options;
    options.heightMap = heightMap;
    options.heightBitDepth = params.HeightBitDepth;
    options.settingsText = params.SettingsText;
    options.productVersion = ProductVersionText();
    options.jpegQuality = GetJpegQuality();
    options.threads = ctx ? ctx->threads : 1;
    return options;
}

struct Encoded {
    bool ok = false;
    std::vector<uint8_t> bytes;
    std::string why;
};

// Writes the six faces of one map; on failure names the face and says why.
bool SaveCubeFaces(const FloatImage& map, const std::string& mapName,
                   const ImageFileOptions& options, RenderContext* ctx, std::string& failedName,
                   std::string& why) {
    RenderContext oneThread;
    RenderContext& context = ctx ? *ctx : oneThread;
    const std::optional<MapSampler> sampler = MapSampler::Build(map, context, &why);
    if (!sampler) {
        failedName = CubeFaceFileName(mapName, kCubeFaces[0]);
        return false;
    }
    const int32_t size = CubeFaceSize(map.Width);
    for (const CubeFace face : kCubeFaces) {
        failedName = CubeFaceFileName(mapName, face);
        const std::optional<FloatImage> image = BuildCubeFace(*sampler, face, size, context);
        if (!image) {
            why = "not enough memory for a cube face";
            return false;
        }
        if (!SaveImageFile(*image, failedName, options, &why)) {
            if (why.empty()) why = "the file could not be written";
            return false;
        }
    }
    return true;
}

}  // namespace

MapPreEncoder::MapPreEncoder(const RenderParams& params, RenderContext& ctx)
    : params_(params), ctx_(ctx) {
    ctx_.mapFinished = [this](const FloatImage& map) { Finished(map); };
    thread_ = std::thread([this] { Run(); });
}

MapPreEncoder::~MapPreEncoder() {
    ctx_.mapFinished = nullptr;
    cancel_.store(true, std::memory_order_relaxed);
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void MapPreEncoder::Finished(const FloatImage& map) {
    for (const MapToSave& field : MapsOf(params_)) {
        if (!field.image || &*field.image != &map) continue;
        if (field.name.empty() || !EncodingCanBeCancelled(field.name)) return;
        {
            const std::lock_guard lock(mutex_);
            Job& job = jobs_.emplace_back();
            job.map = &map;
            job.name = field.name;
            job.heightMap = field.heightMap;
        }
        changed_.notify_all();
        return;
    }
}

void MapPreEncoder::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        Job* job = nullptr;
        changed_.wait(lock, [&] {
            if (stop_) return true;
            for (Job& j : jobs_) {
                if (j.state == Job::kWaiting) {
                    job = &j;
                    return true;
                }
            }
            return false;
        });
        if (stop_) return;
        job->state = Job::kRunning;
        lock.unlock();
        ImageFileOptions options = OptionsOf(params_, job->heightMap, &ctx_);
        options.cancel = &cancel_;
        job->ok = EncodeImageFile(*job->map, job->name, options, job->bytes, &job->why);
        lock.lock();
        job->state = Job::kDone;
        changed_.notify_all();
    }
}

bool MapPreEncoder::Claim(const FloatImage& map, bool& ok, std::vector<uint8_t>& bytes,
                          std::string& why) {
    std::unique_lock lock(mutex_);
    for (Job& job : jobs_) {
        if (job.map != &map || job.state == Job::kLeft) continue;
        if (job.state == Job::kWaiting) {
            job.state = Job::kLeft;
            return false;
        }
        changed_.wait(lock, [&] { return job.state == Job::kDone; });
        job.state = Job::kLeft;
        ok = job.ok;
        bytes = std::move(job.bytes);
        why = std::move(job.why);
        return true;
    }
    return false;
}

bool SaveRenderMaps(const RenderParams& params, std::string* failedName, std::string* reason,
                    RenderContext* ctx, MapPreEncoder* early) {
    const int threads = ctx ? ctx->threads : 1;
    const std::array<MapToSave, 7> maps = MapsOf(params);
    std::vector<const MapToSave*> wanted;
    for (const MapToSave& map : maps) {
        if (!map.name.empty()) wanted.push_back(&map);
    }
    // Up to `threads` maps are encoded at once, each thread taking the next map as soon as
    // it is done with one, so a large colour map does not hold back the smaller ones; the
    // files are still written one after the other in the fixed order, by the calling thread,
    // and none after the first that fails. A map is taken only while fewer than twice the
    // thread count are taken and not yet written, or while the encoded maps waiting to be
    // written hold less than kHeldBudget bytes: that bounds the bytes held, and a long
    // first map does not keep the other threads waiting for its turn to be written.
    constexpr size_t kHeldBudget = size_t{64} << 20;
    const size_t count = wanted.size();
    const size_t workers = static_cast<size_t>(std::max(threads, 1));
    const size_t window = 2 * workers;
    std::vector<Encoded> encoded(count);
    std::vector<uint8_t> ready(count, 0);
    std::mutex mutex;
    std::condition_variable changed;
    size_t next = 0;     // the first map nobody has taken
    size_t written = 0;  // the maps before it are written
    size_t held = 0;     // bytes of the encoded maps not yet written
    bool stop = false;
    const auto encode = [&](size_t k) {
        const MapToSave& map = *wanted[k];
        Encoded& out = encoded[k];
        if (!map.image) {
            out.ok = false;
            out.why = map.whyAbsent;
            return;
        }
        if (early && early->Claim(*map.image, out.ok, out.bytes, out.why)) return;
        out.ok = EncodeImageFile(*map.image, map.name, OptionsOf(params, map.heightMap, ctx),
                                 out.bytes, &out.why);
    };
    // Whether the next map may be taken; called under the lock.
    const auto mayTake = [&] {
        return !stop && next < count && (next < written + window || held < kHeldBudget);
    };
    // Encodes the map k and marks it ready; called under the lock, which it releases while
    // it encodes.
    const auto encodeTaken = [&](std::unique_lock<std::mutex>& lock, size_t k) {
        lock.unlock();
        encode(k);
        lock.lock();
        ready[k] = 1;
        held += encoded[k].bytes.size();
        changed.notify_all();
    };
    std::vector<std::jthread> helpers;
    for (size_t i = 1; i < std::min(workers, count); ++i) {
        helpers.emplace_back([&] {
            std::unique_lock lock(mutex);
            for (;;) {
                changed.wait(lock, [&] { return mayTake() || stop || next >= count; });
                if (!mayTake()) return;
                encodeTaken(lock, next++);
            }
        });
    }
    // Writes the map k; false after a failure, with its name and reason given.
    const auto write = [&](size_t k) {
        const MapToSave& map = *wanted[k];
        Encoded& out = encoded[k];
        std::string failed = map.name;
        if (out.ok && WriteFileAtomically(map.name, out.bytes, &out.why)) {
            out.bytes = {};
            if (!params.CubeMapFaces) return true;
            if (SaveCubeFaces(*map.image, map.name, OptionsOf(params, map.heightMap, ctx), ctx,
                              failed, out.why)) {
                return true;
            }
        }
        if (out.why.empty()) out.why = "the file could not be written";
        if (failedName) *failedName = std::move(failed);
        if (reason) *reason = std::move(out.why);
        return false;
    };
    // However this thread leaves (a failure, an exception), the helpers stop taking maps
    // before they are joined.
    struct StopHelpers {
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& stop;
        ~StopHelpers() {
            const std::lock_guard guard(mutex);
            stop = true;
            changed.notify_all();
        }
    } stopHelpers{mutex, changed, stop};
    std::unique_lock lock(mutex);
    while (written < count) {
        if (ready[written]) {
            const size_t size = encoded[written].bytes.size();
            lock.unlock();
            const bool ok = write(written);
            lock.lock();
            held -= size;
            if (!ok) break;
            ++written;
            changed.notify_all();
        } else if (mayTake()) {
            encodeTaken(lock, next++);
        } else {
            changed.wait(lock, [&] { return ready[written] || mayTake(); });
        }
    }
    return written == count;
}

}  // namespace globeforge
