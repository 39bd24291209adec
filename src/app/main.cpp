// The GlobeForge window program. `--screenshot FILE` shows the window, saves a picture of
// it to FILE and quits (for documentation).
#include <QApplication>
#include <QTimer>

#include "app/main_window.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("GlobeForge"));
    globeforge::MainWindow window;
    window.show();

    const QStringList args = QApplication::arguments();
    const qsizetype shot = args.indexOf(QStringLiteral("--screenshot"));
    if (shot >= 0 && shot + 1 < args.size()) {
        const QString file = args.at(shot + 1);
        QTimer::singleShot(500, &window, [&window, file] {
            const bool ok = window.grab().save(file);
            QApplication::exit(ok ? 0 : 1);
        });
    }
    return app.exec();
}
