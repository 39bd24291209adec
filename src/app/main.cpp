// The GlobeForge window program.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "app/app_language.h"
#include "app/main_window.h"
#include "app/window_options.h"

int main(int argc, char** argv) {
    // The help needs no display: answer it before the window system is opened.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(qPrintable(globeforge::WindowUsage()), stdout);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("GlobeForge"));

    globeforge::WindowOptions options;
    QString error;
    if (!globeforge::ParseWindowOptions(QApplication::arguments().mid(1), options, error)) {
        std::fprintf(stderr, "globeforge: %s\n%s", qPrintable(error),
                     qPrintable(globeforge::WindowUsage()));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(globeforge::WindowUsage()), stdout);
        return 0;
    }

    // Before the window exists: its texts are translated as its widgets are made.
    globeforge::UseLanguage(
        globeforge::StartLanguage(options, globeforge::DefaultPreferencesFileName()));

    globeforge::MainWindow window;
    if (options.threads > 0) window.Context().threads = options.threads;
    window.show();
    // A settings file that cannot be read is reported by the window itself.
    if (!options.settingsFile.isEmpty()) window.OpenSettingsFile(options.settingsFile);

    if (!options.screenshotFile.isEmpty()) {
        const QString file = options.screenshotFile;
        QTimer::singleShot(500, &window, [&window, file] {
            const bool ok = window.grab().save(file);
            QApplication::exit(ok ? 0 : 1);
        });
    }
    return app.exec();
}
