#include "cli/batch_run.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <numeric>
#include <optional>
#include <set>
#include <thread>
#include <unordered_set>

#include "cli/batch_index.h"
#include "cli/batch_leftovers.h"
#include "cli/batch_progress.h"
#include "cli/batch_status.h"
#include "cli/batch_thumbnail.h"
#include "image/image_files.h"
#include "pipeline/render_job.h"
#include "render/render_planet.h"
#include "settings/gather_render_params.h"
#include "settings/settings_file.h"
#include "settings/text_file_io.h"

namespace fs = std::filesystem;

namespace globeforge {

namespace {

using Clock = std::chrono::steady_clock;

bool Stopped(const std::atomic<bool>* stop) {
    return stop && stop->load();
}

fs::path PlanetFolder(const std::string& outDir, const BatchPlanet& planet) {
    return fs::path(outDir) / planet.name;
}

fs::path ThumbnailPath(const std::string& outDir, const BatchPlanet& planet) {
    return fs::path(outDir) / kBatchThumbnailFolder / (planet.name + ".png");
}

// The planet as a glTF asset, beside its maps.
fs::path ModelPath(const std::string& outDir, const BatchPlanet& planet) {
    return PlanetFolder(outDir, planet) / (planet.name + ".glb");
}

bool IsFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

// Done: the settings file holds exactly these settings (it is written last), every map and
// the thumbnail (and, when needsModel, the glTF file) exist, and, when readMaps, every map
// that can carry settings carries these.
bool PlanetIsDone(const std::string& outDir, const BatchPlanet& planet, bool readMaps,
                  bool needsModel) {
    const fs::path folder = PlanetFolder(outDir, planet);
    const std::string expected = SettingsText(planet.settings);
    const settings_io::ReadResult settings =
        settings_io::ReadFileBytes((folder / PlanetSettingsFileName(planet.name)).string());
    if (!settings.ok || settings.bytes != expected) return false;
    if (!IsFile(ThumbnailPath(outDir, planet))) return false;
    if (needsModel && !IsFile(ModelPath(outDir, planet))) return false;
    for (const auto& [key, name] : PlanetMaps(planet.settings)) {
        const fs::path path = folder / name;
        if (!IsFile(path)) return false;
        if (readMaps && CarriesProvenance(name)) {
            MapProvenance provenance;
            if (!ReadMapProvenance(path.string(), provenance) ||
                provenance.settingsText != expected) {
                return false;
            }
        }
    }
    return true;
}

// Removes what a render that did not finish may have left of a planet: its maps, settings
// file, thumbnail and glTF file, the temporary files of a killed run's writes in its folders,
// then the folders that are left empty.
void RemovePlanetFiles(const std::string& outDir, const BatchPlanet& planet) {
    const fs::path folder = PlanetFolder(outDir, planet);
    const std::vector<std::pair<std::string, std::string>> maps = PlanetMaps(planet.settings);
    // The files a render of the planet writes, by folder.
    std::map<fs::path, std::set<std::string>> written;
    written[folder] = {PlanetSettingsFileName(planet.name), planet.name + ".glb"};
    for (const auto& [key, name] : maps) {
        const fs::path path = folder / name;
        written[path.parent_path()].insert(path.filename().string());
    }
    // Not a structured binding: clang does not let a lambda capture one.
    for (const auto& entry : written) {
        const std::set<std::string>& names = entry.second;
        RemoveTemporaries(entry.first,
                          [&](std::string_view name) { return names.count(std::string(name)); });
    }
    std::error_code ec;
    fs::remove(folder / PlanetSettingsFileName(planet.name), ec);
    fs::remove(ThumbnailPath(outDir, planet), ec);
    fs::remove(ModelPath(outDir, planet), ec);
    // Only files, and folders only when empty: whatever else stands there is the user's.
    const auto removeFolder = [&](const fs::path& path) {
        if (fs::is_directory(fs::symlink_status(path, ec))) fs::remove(path, ec);
    };
    for (const auto& [key, name] : maps) {
        fs::path path = folder / name;
        if (fs::is_regular_file(fs::symlink_status(path, ec))) fs::remove(path, ec);
        // Folders inside the planet's folder that a map name made, innermost first.
        for (path = path.parent_path(); path != folder && path.has_relative_path();
             path = path.parent_path()) {
            removeFolder(path);
        }
    }
    removeFolder(folder);
}

enum class PlanetEnd { Rendered, Skipped, Failed, Stopped };

struct PlanetResult {
    PlanetEnd end = PlanetEnd::Failed;
    std::string message;
    double seconds = 0;
};

PlanetResult RenderOnePlanet(const BatchPlanet& planet, const BatchOptions& options, int threads,
                             ProgressBoard& board) {
    const std::string& outDir = options.outDir;
    if (PlanetIsDone(outDir, planet, true, options.gltf.has_value())) {
        return {PlanetEnd::Skipped, {}, 0};
    }

    const auto start = Clock::now();
    const fs::path folder = PlanetFolder(outDir, planet);
    const auto fail = [&](std::string why) {
        RemovePlanetFiles(outDir, planet);
        PlanetResult r{PlanetEnd::Failed, std::move(why),
                       std::chrono::duration<double>(Clock::now() - start).count()};
        WriteStatus(outDir, planet, {"failed", r.seconds, r.message});
        return r;
    };

    // Whatever an earlier run left of the planet goes first, the settings file with it:
    // without that file the folder holds no finished planet, and a glTF file or a map of
    // earlier settings must not pass for this render's.
    RemovePlanetFiles(outDir, planet);
    RemoveStatus(outDir, planet);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return fail("cannot create folder " + folder.string() + ": " + ec.message());

    RenderParams params = GatherRenderParams(planet.settings);
    for (const MapSlot& slot : kMapSlots) {
        std::string& name = params.*slot.name;
        if (name.empty()) continue;
        name = (folder / name).string();
        fs::create_directories(fs::path(name).parent_path(), ec);
        if (ec)
            return fail("cannot create folder " + fs::path(name).parent_path().string() + ": " +
                        ec.message());
    }
    // The thumbnail's globe needs the maps whether the settings name them or not; the
    // unnamed ones are kept in memory only.
    params.BuildGlobeMaps = true;

    RenderContext ctx;
    ctx.threads = threads;
    PlanetProgress progress(ctx, board, planet.name, options.stop);
    ctx.SetProgressTargets(&progress);
    RenderJob job;
    job.rendered = [&ctx] { ctx.SetProgressTargets(nullptr); };
    job.stopped = [&options] { return Stopped(options.stop); };
    // The thumbnail and the glTF file, and then the maps can go.
    const fs::path thumbnailPath = ThumbnailPath(outDir, planet);
    const fs::path modelPath = ModelPath(outDir, planet);
    job.pictures = [&](RenderParams& rendered, RenderContext& context, std::string& failedName,
                       std::string& why) {
        failedName = thumbnailPath.string();
        bool written = WritePlanetThumbnail(rendered, failedName, context, &why);
        if (written && options.gltf) {
            GltfOptions gltf = *options.gltf;
            gltf.threads = context.threads;
            failedName = modelPath.string();
            written = ExportGltfReleasingMaps(rendered, failedName, gltf, &why);
        }
        FreeRenderMaps(rendered);
        return written;
    };
    const RenderJobResult result = RunRenderJob(params, ctx, job);
    switch (result.end) {
        case RenderJobResult::End::Aborted:
            RemovePlanetFiles(outDir, planet);
            return {PlanetEnd::Stopped, {}, 0};
        case RenderJobResult::End::RenderFailed:
            return fail("render failed: " + result.failure);
        case RenderJobResult::End::SaveFailed:
        case RenderJobResult::End::PicturesFailed:
            return fail("cannot write " + result.failedName + ": " + result.reason);
        case RenderJobResult::End::Done:
            break;
    }
    // The record before the settings file: a run killed between the two leaves a planet that
    // is not done (and is rendered again), never a done one without its timing.
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    WriteStatus(outDir, planet, {"done", seconds, {}});
    const SettingsResult saved =
        SaveSettings(planet.settings, (folder / PlanetSettingsFileName(planet.name)).string());
    if (!saved.ok) return fail(saved.message);
    return {PlanetEnd::Rendered, {}, seconds};
}

PlanetRecord RecordOf(const BatchPlanet& planet, const std::string& outDir) {
    PlanetRecord r;
    r.name = planet.name;
    r.seed = planet.settings.Seed;
    for (const SettingInfo& info : SettingsTable()) {
        r.settings.emplace_back(info.key, SettingValueText(planet.settings, info));
    }
    r.settingsFile = planet.name + "/" + PlanetSettingsFileName(planet.name);
    for (const auto& [key, name] : PlanetMaps(planet.settings)) {
        r.maps.emplace_back(key, planet.name + "/" + name);
    }
    const PlanetStatus status = ReadStatus(outDir, planet);
    if (PlanetIsDone(outDir, planet, false, false)) {
        r.status = "done";
        r.thumbnail = std::string(kBatchThumbnailFolder) + "/" + planet.name + ".png";
        // Another shard's run may have asked for it where this one did not.
        if (IsFile(ModelPath(outDir, planet))) r.model = planet.name + "/" + planet.name + ".glb";
        if (status.status == "done") r.seconds = status.seconds;
    } else if (status.status == "failed") {
        r.status = "failed";
        r.message = status.message;
        r.seconds = status.seconds;
    } else {
        r.status = "missing";
    }
    return r;
}

// An exclusive lock on a file of the state folder, released with the object.
class FolderLock {
  public:
    explicit FolderLock(const fs::path& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    int fd_;
};

}  // namespace

std::string WriteBatchIndex(const std::vector<BatchPlanet>& planets, const std::string& outDir) {
    std::error_code ec;
    fs::create_directories(fs::path(outDir) / kBatchStateFolder, ec);
    if (ec) return "cannot create folder " + outDir + ": " + ec.message();
    // Shards that finish together each rewrite the index from the folder; the lock makes the
    // last writer one that saw every planet the others finished.
    FolderLock lock(fs::path(outDir) / kBatchStateFolder / "index.lock");
    // Every writer of the index holds the lock: a temporary file of it is a killed run's.
    RemoveTemporaries(outDir, [](std::string_view name) {
        return name == kBatchIndexJson || name == kBatchIndexHtml;
    });
    std::vector<PlanetRecord> records;
    records.reserve(planets.size());
    for (const BatchPlanet& planet : planets) records.push_back(RecordOf(planet, outDir));
    for (const auto& [name, text] : {std::pair{kBatchIndexJson, IndexJson(records)},
                                     std::pair{kBatchIndexHtml, IndexHtml(records)}}) {
        const std::string path = (fs::path(outDir) / name).string();
        if (std::string why = settings_io::ReplaceFileAtomically(path, text); !why.empty()) {
            return "cannot write " + path + ": " + why;
        }
    }
    return {};
}

BatchOutcome RunBatch(const std::vector<BatchPlanet>& planets, const BatchOptions& options) {
    BatchOutcome outcome;
    std::vector<const BatchPlanet*> mine;
    for (const BatchPlanet& planet : planets) {
        if (static_cast<int64_t>(planet.index % static_cast<size_t>(options.shardCount)) ==
            options.shardIndex) {
            mine.push_back(&planet);
        }
    }
    std::error_code ec;
    for (const std::string_view sub : {kBatchThumbnailFolder, kBatchStateFolder}) {
        fs::create_directories(fs::path(options.outDir) / sub, ec);
        if (ec) {
            std::fprintf(stderr, "globeforge-render: cannot create folder %s: %s\n",
                         (fs::path(options.outDir) / sub).c_str(), ec.message().c_str());
            outcome.failed = mine.size();
            return outcome;
        }
    }

    // The thumbnails and records of this shard's planets that a killed run was writing.
    std::unordered_set<std::string> ours;
    for (const BatchPlanet* planet : mine) {
        ours.insert(ThumbnailPath(options.outDir, *planet).filename().string());
        ours.insert(StatusFileName(*planet));
    }
    for (const std::string_view sub : {kBatchThumbnailFolder, kBatchStateFolder}) {
        RemoveTemporaries(fs::path(options.outDir) / sub,
                          [&](std::string_view name) { return ours.count(std::string(name)) > 0; });
    }

    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int total = options.threads > 0 ? options.threads : cores;
    int jobs = std::max(1, std::min<int>(options.jobs, static_cast<int>(mine.size())));
    // The planets rendered at once must fit in memory together: fewer at once rather than a
    // machine that swaps or kills.
    if (jobs > 1) {
        std::vector<double> peaks;
        for (const BatchPlanet* planet : mine) {
            peaks.push_back(
                EstimateRenderFootprint(GatherRenderParams(planet->settings)).peakBytes);
        }
        std::sort(peaks.begin(), peaks.end(), std::greater<>());
        const double memory = static_cast<double>(sysconf(_SC_PHYS_PAGES)) *
                              static_cast<double>(sysconf(_SC_PAGE_SIZE));
        const int asked = jobs;
        while (jobs > 1 && std::accumulate(peaks.begin(), peaks.begin() + jobs, 0.0) > memory) {
            --jobs;
        }
        if (jobs < asked) {
            std::fprintf(stderr,
                         "globeforge-render: %d planets at once would not fit in memory; "
                         "rendering %d at once\n",
                         asked, jobs);
        }
    }
    const int threadsEach = std::max(1, total / jobs);

    ProgressBoard board(mine.size(), options.terminal && !options.quiet);
    std::mutex mutex;
    size_t next = 0;
    const auto work = [&] {
        while (true) {
            const BatchPlanet* planet;
            {
                std::lock_guard lock(mutex);
                if (next == mine.size()) return;
                if (Stopped(options.stop)) {
                    outcome.notRun += mine.size() - next;
                    next = mine.size();
                    return;
                }
                planet = mine[next++];
            }
            PlanetResult result;
            try {
                result = RenderOnePlanet(*planet, options, threadsEach, board);
            } catch (const std::exception& e) {
                RemovePlanetFiles(options.outDir, *planet);
                result = {PlanetEnd::Failed, e.what(), 0};
            }
            std::string line;
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.2f", result.seconds);
            {
                std::lock_guard lock(mutex);
                switch (result.end) {
                    case PlanetEnd::Rendered:
                        ++outcome.rendered;
                        line = std::string("rendered in ") + seconds + " s";
                        break;
                    case PlanetEnd::Skipped:
                        ++outcome.skipped;
                        line = "already done, skipped";
                        break;
                    case PlanetEnd::Failed:
                        ++outcome.failed;
                        line = "FAILED: " + result.message;
                        break;
                    case PlanetEnd::Stopped:
                        ++outcome.notRun;
                        outcome.stopped = true;
                        line = "stopped; its files were removed";
                        break;
                }
            }
            board.PlanetEnded(planet->name, line);
        }
    };
    std::vector<std::thread> workers;
    for (int j = 1; j < jobs; ++j) workers.emplace_back(work);
    work();
    for (std::thread& worker : workers) worker.join();
    board.Finish();
    if (Stopped(options.stop)) outcome.stopped = true;

    outcome.indexError = WriteBatchIndex(planets, options.outDir);
    return outcome;
}

bool ParseShard(const std::string& text, int32_t& index, int32_t& count, std::string& error) {
    const size_t slash = text.find('/');
    const auto number = [](const std::string& s, int32_t& out) {
        if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        out = std::stoi(s);
        return true;
    };
    if (slash == std::string::npos || !number(text.substr(0, slash), index) ||
        !number(text.substr(slash + 1), count) || count < 1 || index >= count) {
        error = "--shard needs K/N with 0 <= K < N, for example 0/4, not '" + text + "'";
        return false;
    }
    return true;
}

}  // namespace globeforge
