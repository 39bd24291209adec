#include "cli/batch_command.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <thread>

#include "cli/batch_run.h"
#include "cli/batch_table.h"
#include "settings/text_file_io.h"

namespace globeforge {

namespace {

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "globeforge-render: %s\n", message.c_str());
    return status;
}

}  // namespace

int RunBatchCommand(const CliOptions& options, const SettingsModel& base, bool terminal,
                    const std::atomic<bool>& stop) {
    BatchOptions run;
    run.outDir = options.outDir;
    run.jobs = options.jobs;
    run.threads = options.threads;
    run.quiet = options.quiet;
    run.terminal = terminal;
    run.stop = &stop;
    std::string error;
    if (!options.shard.empty() &&
        !ParseShard(options.shard, run.shardIndex, run.shardCount, error)) {
        return Fail(2, error);
    }

    BatchTable table;
    std::vector<std::string> errors;
    if (!options.seedRange.empty()) {
        if (!SeedRangeTable(options.seedRange, table, error)) return Fail(2, error);
    } else {
        const settings_io::ReadResult file = settings_io::ReadFileBytes(options.batchTable);
        if (!file.ok) return Fail(2, "cannot read " + options.batchTable + ": " + file.error);
        if (!ReadBatchTable(file.bytes, table, errors)) {
            for (const std::string& e : errors) Fail(2, options.batchTable + ": " + e);
            return Fail(2, "nothing was rendered");
        }
    }
    std::vector<BatchPlanet> planets;
    if (!CheckBatchTable(base, table, planets, errors)) {
        const std::string source = options.seedRange.empty() ? options.batchTable : "--seeds";
        for (const std::string& e : errors) Fail(2, source + ": " + e);
        return Fail(2, "nothing was rendered");
    }

    if (options.gltfEach) {
        // Checked before the first planet: every planet's folder is inside the output folder.
        run.gltf = CliGltfOptions(options);
        std::error_code ec;
        std::filesystem::create_directories(options.outDir, ec);
        if (ec) return Fail(1, "cannot create folder " + options.outDir + ": " + ec.message());
        const std::string probe = (std::filesystem::path(options.outDir) / "planet.glb").string();
        if (std::optional<std::string> problem = CheckGltfOptions(*run.gltf, probe))
            return Fail(2, *problem);
    }
    const BatchOutcome outcome = RunBatch(planets, run);
    if (!outcome.indexError.empty()) Fail(1, outcome.indexError);
    std::fprintf(stderr,
                 "globeforge-render: %zu rendered, %zu already done, %zu failed, %zu not "
                 "rendered%s\n",
                 outcome.rendered, outcome.skipped, outcome.failed, outcome.notRun,
                 outcome.stopped ? " (stopped)" : "");
    return outcome.AllDone() ? 0 : 1;
}

}  // namespace globeforge
