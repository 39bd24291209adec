// globeforge-render: renders the maps a settings file names, without a window.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/batch_command.h"
#include "cli/cli_options.h"
#include "cli/stderr_progress.h"
#include "core/jpeg_quality.h"
#include "globe/globe_output.h"
#include "globe/turntable.h"
#include "gltf/gltf_export.h"
#include "image/image_files.h"
#include "pipeline/render_job.h"
#include "render/render_planet.h"
#include "render/stage_dump.h"
#include "settings/gather_render_params.h"
#include "settings/preferences.h"
#include "settings/settings_file.h"
#include "settings/settings_model.h"

namespace fs = std::filesystem;
using namespace globeforge;

namespace {

RenderContext* interruptTarget = nullptr;
std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) {
    // Lock-free atomic stores: safe in a signal handler. The render stops at its next row.
    interrupted.store(true);
    if (interruptTarget) interruptTarget->AbortRequested.store(true);
}

// Ctrl-C is an event like the window's abort button, delivered whenever the render lets
// events run: the render clears its abort flag once it has started, and an interrupt that
// came just before must not be lost with it.
class InterruptibleProgress : public StderrProgress {
  public:
    InterruptibleProgress(RenderContext& ctx, bool quiet, bool terminal, Language language)
        : StderrProgress(ctx, quiet, terminal, language), ctx_(ctx) {}
    void ProcessPendingEvents() override {
        if (interrupted.load()) ctx_.AbortRequested.store(true);
        StderrProgress::ProcessPendingEvents();
    }

  private:
    RenderContext& ctx_;
};

int Fail(int status, const std::string& message) {
    std::cerr << "globeforge-render: " << message << "\n";
    return status;
}

// A settings file loads leniently and says what it had to change; --strict refuses it then.
// False when refused.
bool ReportLoadWarnings(const SettingsResult& loaded, bool strict) {
    for (const std::string& warning : loaded.warnings) {
        std::cerr << "globeforge-render: " << (strict ? "" : "warning: ") << warning << "\n";
    }
    return !strict || loaded.warnings.empty();
}

constexpr const char* kStrictRefusal =
    "--strict: the settings file does not load as written (see above); nothing was rendered";

// Relative map names resolve against --out-dir instead of the current folder.
void ResolveOutputNames(RenderParams& params, const std::string& outDir) {
    if (outDir.empty()) return;
    for (const MapSlot& slot : kMapSlots) {
        std::string& name = params.*slot.name;
        if (!name.empty() && fs::path(name).is_relative())
            name = (fs::path(outDir) / name).string();
    }
}

// The globe settings of the command line; size is the side when --globe-size is absent.
struct GlobeRequest {
    GlobeCamera camera;
    GlobeSun sun;
    GlobeOptions options;
};

GlobeRequest MakeGlobeRequest(const CliOptions& options, int32_t defaultSize) {
    GlobeRequest r;
    if (options.globeView) {
        r.camera.longitude = options.globeView->first;
        r.camera.latitude = options.globeView->second;
    }
    if (options.globeSun) {
        r.sun.azimuth = options.globeSun->first;
        r.sun.elevation = options.globeSun->second;
    }
    r.options.width = r.options.height = options.globeSize.value_or(defaultSize);
    return r;
}

// Writes --globe and --turntable from the maps of a finished render; 0 or an exit status.
int WriteGlobes(const CliOptions& options, const RenderParams& params, RenderContext& ctx) {
    std::string error;
    std::optional<GlobeScene> scene = GlobeScene::Prepare(GlobeMapsOf(params), ctx, &error);
    if (!scene) return Fail(1, "cannot draw the globe: " + error);
    if (!options.globe.empty()) {
        GlobeRequest r = MakeGlobeRequest(options, kDefaultGlobeSize);
        r.options.transparentBackground = true;
        if (!WriteGlobePng(*scene, r.camera, r.sun, r.options, params.SettingsText, options.globe,
                           ctx, &error)) {
            return Fail(1, "cannot write " + options.globe + ": " + error);
        }
        if (!options.quiet) std::cerr << "wrote " << options.globe << "\n";
    }
    if (!options.turntable.empty()) {
        const GlobeRequest r = MakeGlobeRequest(options, kDefaultTurntableSize);
        TurntableOptions turntable;
        turntable.frames = options.frames.value_or(turntable.frames);
        if (!WriteTurntableWebp(*scene, r.camera, r.sun, r.options, turntable, options.turntable,
                                ctx, &error)) {
            return Fail(1, "cannot write " + options.turntable + ": " + error);
        }
        if (!options.quiet) std::cerr << "wrote " << options.turntable << "\n";
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        return Fail(2, error + "\nTry 'globeforge-render --help'.");
    }
    if (options.help) {
        std::cout << CliHelpText();
        return 0;
    }
    if (options.version) {
        std::cout << "GlobeForge " << kGlobeForgeVersion << "\n";
        return 0;
    }

    SettingsModel model;
    std::optional<int32_t> recordedJpegQuality;
    if (!options.settingsFile.empty()) {
        const SettingsResult loaded = LoadSettings(model, options.settingsFile);
        const bool accepted = ReportLoadWarnings(loaded, options.strict);
        if (!loaded.ok) return Fail(2, loaded.message);
        if (!accepted) return Fail(2, kStrictRefusal);
    } else if (!options.settingsFrom.empty()) {
        MapProvenance provenance;
        std::string why;
        if (!ReadMapProvenance(options.settingsFrom, provenance, &why)) {
            return Fail(2, "cannot take settings from " + options.settingsFrom + ": " + why);
        }
        const SettingsResult applied =
            ApplySettingsText(model, provenance.settingsText, options.settingsFrom);
        const bool accepted = ReportLoadWarnings(applied, options.strict);
        if (!applied.ok) return Fail(2, applied.message);
        if (!accepted) return Fail(2, kStrictRefusal);
        recordedJpegQuality = provenance.jpegQuality;
    }
    if (std::string problem = ApplyCliOverrides(options, model); !problem.empty()) {
        return Fail(2, problem);
    }

    if (!options.writeSettings.empty()) {
        const SettingsResult saved = SaveSettings(model, options.writeSettings);
        if (!saved.ok) return Fail(1, saved.message);
        if (!options.quiet) std::cerr << "settings written to " << options.writeSettings << "\n";
        return 0;
    }

    if (options.preview) ApplyPreview(model);
    if (options.IsBatch()) {
        SetJpegQuality(options.jpegQuality ? *options.jpegQuality
                       : recordedJpegQuality
                           ? *recordedJpegQuality
                           : ReadJpegQualityPreference(PreferencesFilePath(CurrentProgramPath())));
        std::signal(SIGINT, OnInterrupt);
        std::signal(SIGTERM, OnInterrupt);
        return RunBatchCommand(options, model, isatty(STDERR_FILENO) != 0, interrupted);
    }
    RenderParams params = GatherRenderParams(model);
    if (std::string problem = CheckRenderSize(params); !problem.empty()) {
        return Fail(2, problem);
    }
    if (!options.outDir.empty()) {
        std::error_code ec;
        fs::create_directories(options.outDir, ec);
        if (ec) return Fail(1, "cannot create folder " + options.outDir + ": " + ec.message());
    }
    ResolveOutputNames(params, options.outDir);
    const bool globes = !options.globe.empty() || !options.turntable.empty();
    if (globes) {
        // Refused now rather than after a long render.
        for (int32_t side : {kDefaultGlobeSize, kDefaultTurntableSize}) {
            const GlobeRequest r = MakeGlobeRequest(options, side);
            if (std::string problem = CheckGlobeOptions(r.camera, r.sun, r.options);
                !problem.empty()) {
                return Fail(2, problem);
            }
        }
        TurntableOptions turntable;
        turntable.frames = options.frames.value_or(turntable.frames);
        if (std::string problem = CheckTurntableOptions(turntable); !problem.empty()) {
            return Fail(2, problem);
        }
        params.BuildGlobeMaps = true;
        for (std::string* name : {&options.globe, &options.turntable}) {
            if (!name->empty() && !options.outDir.empty() && fs::path(*name).is_relative())
                *name = (fs::path(options.outDir) / *name).string();
        }
    }
    GltfOptions gltfOptions = CliGltfOptions(options);
    if (!options.gltf.empty()) {
        if (!options.outDir.empty() && fs::path(options.gltf).is_relative())
            options.gltf = (fs::path(options.outDir) / options.gltf).string();
        // The name, the folder and the options are refused before the render, not after.
        if (std::optional<std::string> problem = CheckGltfOptions(gltfOptions, options.gltf))
            return Fail(2, *problem);
        params.BuildGlobeMaps = true;
    }
    if (!options.dumpStages.empty()) {
        std::error_code ec;
        fs::create_directories(options.dumpStages, ec);
        if (ec) {
            return Fail(1, "cannot create folder " + options.dumpStages + ": " + ec.message());
        }
    }

    // A map made again gets the quality it was made with, so its JPEG siblings come out
    // the same too.
    if (options.jpegQuality) {
        SetJpegQuality(*options.jpegQuality);
    } else if (recordedJpegQuality) {
        SetJpegQuality(*recordedJpegQuality);
    } else {
        SetJpegQuality(ReadJpegQualityPreference(PreferencesFilePath(CurrentProgramPath())));
    }

    RenderContext ctx;
    ctx.threads = options.threads > 0
                      ? options.threads
                      : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    InterruptibleProgress progress(
        ctx, options.quiet, isatty(STDERR_FILENO) != 0,
        ResolveLanguage(options.language.value_or(LanguageChoice::Auto)));
    ctx.SetProgressTargets(&progress);
    std::optional<StageDumper> dumper;
    if (!options.dumpStages.empty()) {
        dumper.emplace(options.dumpStages);
        ctx.SetStageObserver(&*dumper);
    }
    interruptTarget = &ctx;
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);

    RenderJob job;
    job.rendered = [&] {
        progress.Finish();
        interruptTarget = nullptr;
    };
    // An interrupt after the last row the render looked at still means: write nothing.
    job.stopped = [] { return interrupted.load(); };
    int picturesStatus = 0;
    job.pictures = [&](RenderParams& rendered, RenderContext& context, std::string&, std::string&) {
        if (!options.quiet) {
            for (const MapSlot& slot : kMapSlots) {
                const std::string& name = rendered.*slot.name;
                if (!name.empty()) std::cerr << "wrote " << name << "\n";
            }
        }
        if (globes) {
            // Ctrl-C stops a turntable between frames.
            context.SetProgressTargets(nullptr);
            interruptTarget = &context;
            picturesStatus = WriteGlobes(options, rendered, context);
            interruptTarget = nullptr;
            if (picturesStatus != 0) return false;
        }
        if (!options.gltf.empty()) {
            std::string why;
            gltfOptions.threads = context.threads;
            // The last use of the maps: the export may free them as it goes.
            if (!ExportGltfReleasingMaps(rendered, options.gltf, gltfOptions, &why)) {
                picturesStatus = Fail(1, "cannot export " + options.gltf + ": " + why);
                return false;
            }
            if (!options.quiet) std::cerr << "wrote " << options.gltf << "\n";
        }
        return true;
    };
    const RenderJobResult result = RunRenderJob(params, ctx, job);
    switch (result.end) {
        case RenderJobResult::End::Aborted:
            return Fail(1, "render aborted; no map was written");
        case RenderJobResult::End::RenderFailed:
            return Fail(1, "render failed: " + result.failure);
        case RenderJobResult::End::SaveFailed:
            return Fail(1, "cannot write " + result.failedName + ": " + result.reason);
        case RenderJobResult::End::PicturesFailed:
            return picturesStatus;
        case RenderJobResult::End::Done:
            break;
    }
    return 0;
}
