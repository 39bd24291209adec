// Helpers for driving the real main window in tests: waiting for a render to end, answering
// the modal dialogs it opens so they never block a test, and whole files in and out.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "app/preview_area.h"

namespace globeforge::testing {

inline void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        ADD_FAILURE() << "cannot write " << path.toStdString();
    file.write(bytes);
}

inline QByteArray ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) ADD_FAILURE() << "cannot read " << path.toStdString();
    return file.readAll();
}

// Processes events until pred holds or the time runs out; true when it held.
inline bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > timeoutMs) return false;
        QTest::qWait(2);
    }
    return true;
}

// Watches for modal dialogs while alive. Message boxes are recorded and closed; any other
// dialog is handed to the answer callback (which must close it).
class ModalWatcher {
  public:
    explicit ModalWatcher(std::function<void(QDialog*)> answer = {}) : answer_(std::move(answer)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start();
    }

    const QStringList& MessageTexts() const { return texts_; }

  private:
    void Poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            texts_ << box->text();
            box->done(QMessageBox::Ok);
        } else if (auto* dialog = qobject_cast<QDialog*>(modal); dialog && answer_) {
            answer_(dialog);
        }
    }

    QTimer timer_;
    QStringList texts_;
    std::function<void(QDialog*)> answer_;
};

// A shown main window with tiny render sizes and preferences of its own. Live preview is off
// unless asked for: most tests start their previews by clicking.
class WindowUnderTest {
  public:
    explicit WindowUnderTest(bool livePreview = false) {
        window.SetPreferencesFileName(PreferencesFile());
        window.show();
        window.Controls().LivePreview1->setChecked(livePreview);
        window.Controls().ResX->setText(QStringLiteral("16"));
        window.Controls().ResY->setText(QStringLiteral("16"));
    }

    // Clicks the preview area and waits for the render's results to be installed.
    bool Preview() {
        QSignalSpy finished(&window, &MainWindow::renderFinished);
        QTest::mouseClick(window.Controls().Preview, Qt::LeftButton);
        return WaitUntil([&] { return finished.count() > 0; });
    }

    bool Go() {
        QSignalSpy finished(&window, &MainWindow::renderFinished);
        QTest::mouseClick(window.Controls().Go, Qt::LeftButton);
        return WaitUntil([&] { return finished.count() > 0; });
    }

    // Waits until no preview waits for the changes to pause and no render runs.
    bool Settle() {
        return WaitUntil([this] {
            return !window.IsRendering() && !window.Controls().LivePreviewTimer->isActive();
        });
    }

    QString PreferencesFile() const { return preferences.filePath(QStringLiteral("prefs.INI")); }

    QTemporaryDir preferences;
    MainWindow window;
};

}  // namespace globeforge::testing

// Readable Qt strings in assertion messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}
