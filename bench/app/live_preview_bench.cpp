// The window's live preview: from a change of a setting to the preview image showing it, the
// pause that gathers changes left out (it is set to zero). The window is the real one, on
// the offscreen platform, with examples/default.ORB loaded; each iteration moves the
// coast-line bar and waits until the new preview is installed. 128 x 128, the preview's size.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include "app/main_window.h"

namespace globeforge::bench {
namespace {

void BM_LivePreviewChangeToImage(benchmark::State& state) {
    QTemporaryDir preferences;
    MainWindow window;
    window.SetPreferencesFileName(preferences.filePath(QStringLiteral("prefs.INI")));
    window.show();
    window.Context().threads = static_cast<int>(state.range(0));
    window.Controls().LivePreviewTimer->setInterval(0);
    if (!window.OpenSettingsFile(QStringLiteral(GLOBEFORGE_SOURCE_DIR "/examples/default.ORB")))
        state.SkipWithError("examples/default.ORB could not be loaded");

    QEventLoop loop;
    bool completed = false;
    QObject::connect(&window, &MainWindow::renderFinished, &loop, [&](bool ok) {
        completed = ok;
        loop.quit();
    });
    loop.exec();  // the load's own preview

    // Two positions in turn: every step is a change.
    QSlider* bar = window.Controls().DeepSeaThr;
    for (auto _ : state) {
        bar->setValue(bar->value() == 20 ? 21 : 20);
        loop.exec();
        if (!completed) state.SkipWithError("the preview did not complete");
    }
    state.counters["threads"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_LivePreviewChangeToImage)
    ->ArgNames({"threads"})
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()  // the render's threads too: the figure a busy machine keeps
    ->UseRealTime();

}  // namespace
}  // namespace globeforge::bench

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
