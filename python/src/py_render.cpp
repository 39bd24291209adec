#include "py_render.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/language.h"
#include "pipeline/render_job.h"
#include "py_errors.h"
#include "py_planet.h"
#include "render/render_planet.h"
#include "settings/gather_render_params.h"

namespace py = pybind11;

namespace globeforge::python {

namespace {

struct ProgressEvent {
    std::string message;
    double fraction;
};

// Between the render's thread and the caller's: the render leaves its stage messages here,
// the caller takes them and may ask the render to stop.
class RenderChannel : public ProgressSink {
  public:
    explicit RenderChannel(RenderContext& ctx) : ctx_(ctx) {}

    void DrawProgressImage(const FloatImage&) override {}
    bool ShowsImages() const override { return false; }
    void SetMessage(std::string_view message) override {
        const std::lock_guard lock(mutex_);
        events_.push_back(
            {std::string(LocalizedStageMessage(message, Language::English)), Fraction()});
        changed_.notify_all();
    }
    // The render clears its abort flag as it starts: a stop that came before must not be
    // lost with it.
    void ProcessPendingEvents() override {
        if (stop_.load()) ctx_.AbortRequested.store(true);
    }

    void Stop() {
        stop_.store(true);
        ctx_.AbortRequested.store(true);
    }
    bool Stopped() const { return stop_.load(); }
    void Finish() {
        const std::lock_guard lock(mutex_);
        done_ = true;
        changed_.notify_all();
    }

    // Waits up to timeout for a message or the end and takes the messages; without a new
    // message, a changed fraction of the step under way comes with the last message, as the
    // window's gauge shows it. True once the render has returned.
    bool Wait(std::chrono::milliseconds timeout, std::vector<ProgressEvent>& events) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [this] { return done_ || !events_.empty(); });
        events.swap(events_);
        events_.clear();
        if (events.empty() && !done_ && !last_.message.empty() && Fraction() != last_.fraction) {
            events.push_back({last_.message, Fraction()});
        }
        if (!events.empty()) last_ = events.back();
        return done_;
    }

  private:
    double Fraction() const { return std::clamp(ctx_.ProgressPercent.load(), 0, 100) / 100.0; }

    RenderContext& ctx_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ProgressEvent> events_;
    ProgressEvent last_{"", -1.0};
    bool done_ = false;
};

// Runs the render on a thread of its own; this thread, without the GIL between looks,
// passes the messages to progress and checks for signals, so Ctrl-C (or an exception of
// progress) stops the render at its next row and is raised here once the render has ended.
void RunJob(Planet& planet, const py::object& progress) {
    RenderContext ctx;
    ctx.threads = planet.threads;
    RenderChannel channel(ctx);
    ctx.SetProgressTargets(&channel);
    RenderJob job;
    job.saveMaps = false;  // planet.save writes them
    job.stopped = [&channel] { return channel.Stopped(); };

    RenderJobResult result;
    std::exception_ptr thrown;
    std::thread worker([&] {
        try {
            result = RunRenderJob(planet.params, ctx, job);
        } catch (...) {
            thrown = std::current_exception();
        }
        channel.Finish();
    });
    const auto join = [&worker] {
        py::gil_scoped_release nogil;
        worker.join();
    };
    try {
        for (bool done = false; !done;) {
            std::vector<ProgressEvent> events;
            {
                py::gil_scoped_release nogil;
                done = channel.Wait(std::chrono::milliseconds(50), events);
            }
            if (!progress.is_none()) {
                for (const ProgressEvent& e : events) progress(e.message, e.fraction);
            }
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        }
    } catch (...) {
        channel.Stop();
        join();
        throw;
    }
    join();
    if (thrown) std::rethrow_exception(thrown);
    switch (result.end) {
        case RenderJobResult::End::Done:
            return;
        case RenderJobResult::End::RenderFailed:
            if (result.failure.starts_with("not enough memory")) {
                PyErr_SetString(PyExc_MemoryError, result.failure.c_str());
                throw py::error_already_set();
            }
            throw std::runtime_error("render failed: " + result.failure);
        default:
            throw std::runtime_error("render aborted");
    }
}

// gf.render: the command line's --seed, --size and --oversampling are settings lines, so the
// maps record them as the command line's do.
std::unique_ptr<Planet> Render(const PySettings& settings, const py::object& size,
                               const py::object& seed, const py::object& oversampling,
                               const py::object& threads, const py::object& progress) {
    auto planet = std::make_unique<Planet>();
    planet->settings = settings;
    SettingsModel& model = planet->settings.model;
    if (!seed.is_none()) {
        const int32_t value = CheckedInt("seed", seed, INT32_MIN, INT32_MAX);
        SetSettingText(model, "RandomSeed", std::to_string(value));
    }
    if (!size.is_none()) {
        if (!py::isinstance<py::sequence>(size) || py::len(size) != 2) {
            throw py::type_error("size must be (width, height)");
        }
        const py::sequence wh = size.cast<py::sequence>();
        SetSettingText(model, "OutputResolutionX",
                       std::to_string(CheckedInt("width", wh[0], 1, INT32_MAX)));
        SetSettingText(model, "OutputResolutionY",
                       std::to_string(CheckedInt("height", wh[1], 1, INT32_MAX)));
    }
    if (!oversampling.is_none()) {
        SetSettingText(model, "OverSampling",
                       std::to_string(CheckedInt("oversampling", oversampling, 1, 9)));
    }
    planet->threads = threads.is_none()
                          ? static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))
                          : CheckedInt("threads", threads, 1, RenderContext::kMaxThreads);
    if (!progress.is_none() && !PyCallable_Check(progress.ptr())) {
        throw py::type_error("progress must be callable as progress(message, fraction)");
    }
    GatherRenderParams(model, planet->params);
    if (std::string problem = CheckRenderSize(planet->params); !problem.empty()) {
        throw py::value_error(problem);
    }
    // The globe and the glTF export draw from these maps even when no file name asks for them.
    planet->params.BuildGlobeMaps = true;
    RunJob(*planet, progress);
    return planet;
}

}  // namespace

void BindRender(py::module_& m) {
    m.def("render", &Render, py::arg("settings"), py::arg("size") = py::make_tuple(2048, 1024),
          py::arg("seed") = py::none(), py::arg("oversampling") = py::none(),
          py::arg("threads") = py::none(), py::arg("progress") = py::none(),
          R"(Renders a planet and returns it as a Planet.

size is (width, height) of the maps; None keeps the settings' size. seed and oversampling
(1..9) replace the settings' values when given; threads defaults to every core (the maps
are the same for any count). progress, when given, is called on this thread as
progress(message, fraction): with each stage's message, in order, as the stage ends, and
in between with the last message and the fraction done of the step under way.

The render runs without the GIL. Ctrl-C stops it within a fraction of a second and
raises KeyboardInterrupt; an exception raised by progress stops it too and is raised.
ValueError for bad arguments, MemoryError when the maps do not fit.)");
}

}  // namespace globeforge::python
