// Rendering the planets of a checked batch table into one output folder: each planet into
// OUT/NAME/ with its settings file OUT/NAME/NAME.ORB written last, so a planet is done when
// that file holds its settings and every map it names (and its NAME.glb, when asked for)
// exists and carries the same settings.
// Done planets are skipped, so a run that was stopped can simply be started again; several
// processes may share the folder as long as each renders other planets (--shard).
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/batch_table.h"
#include "gltf/gltf_export.h"

namespace globeforge {

struct BatchOptions {
    std::string outDir;
    int32_t shardIndex = 0;  // render the rows whose index modulo shardCount is shardIndex
    int32_t shardCount = 1;
    int32_t jobs = 1;       // planets rendered at once
    int32_t threads = 0;    // threads in all, shared among the jobs; 0: every core
    bool quiet = false;     // no progress bar (the summary lines stay)
    bool terminal = false;  // standard error is a terminal: draw a bar
    // Also NAME.glb in every planet's folder; a planet is then done only with it.
    std::optional<GltfOptions> gltf;
    // Set (for example by a signal handler) to stop: the planets being rendered are
    // abandoned and their files removed, no new one starts.
    const std::atomic<bool>* stop = nullptr;
};

struct BatchOutcome {
    size_t rendered = 0;
    size_t skipped = 0;  // already done
    size_t failed = 0;
    size_t notRun = 0;  // left because of a stop
    bool stopped = false;
    std::string indexError;  // why the index could not be written, if it could not
    bool AllDone() const { return failed == 0 && notRun == 0 && !stopped && indexError.empty(); }
};

// Parses "K/N" with 0 <= K < N.
bool ParseShard(const std::string& text, int32_t& index, int32_t& count, std::string& error);

// Renders the planets of this shard, then rewrites OUT/index.json and OUT/index.html from
// what the folder holds for every planet of the table. Prints one line per planet to
// standard error.
BatchOutcome RunBatch(const std::vector<BatchPlanet>& planets, const BatchOptions& options);

// Rewrites the index from the folder (under a lock, so shards finishing together agree).
// Empty on success, else why not.
std::string WriteBatchIndex(const std::vector<BatchPlanet>& planets, const std::string& outDir);

}  // namespace globeforge
