// The window as a live instrument: previews that follow the changes, undo and redo, the new
// seed button, recent and dropped files, and what a full render leaves alone.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDropEvent>
#include <QMenu>
#include <QMimeData>
#include <QSlider>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <thread>

#include "app/globe_window.h"
#include "app/qt_progress.h"
#include "settings/preferences.h"
#include "settings/settings_file.h"
#include "window_harness.h"

namespace globeforge {
namespace {

using testing::ModalWatcher;
using testing::ReadFile;
using testing::WaitUntil;
using testing::WindowUnderTest;
using testing::WriteFile;

// Makes the render's event points slow while `slow` holds, so a test can act in the middle
// of a render; counts them.
class SlowRender {
  public:
    explicit SlowRender(MainWindow& window) : sink_(window.ProgressSinkObject()) {
        sink_->SetEventHook([this] {
            ++events;
            if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        });
    }
    ~SlowRender() { sink_->SetEventHook({}); }

    std::atomic<bool> slow{true};
    std::atomic<int> events{0};

  private:
    QtProgressSink* sink_;
};

// The preview the window shows now, and the one a click on the preview area gives for the
// same settings.
void ExpectSameAsAClick(WindowUnderTest& t) {
    EXPECT_EQ(t.window.Params().SettingsText, SettingsText(t.window.ModelFromControls()));
    const QImage live = t.window.PreviewBuffer().copy();
    ASSERT_TRUE(t.Preview());
    EXPECT_EQ(t.window.PreviewBuffer(), live);
}

// A file dragged onto target and dropped there (the drop goes where the entry was taken).
void Drop(QWidget* target, const QString& file) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file)});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

TEST(LivePreview, SliderDragGivesOnePreviewOfTheLastValueLikeAClick) {
    WindowUnderTest t(true);
    const MainWindowControls& c = t.window.Controls();
    c.DeepAutoCreate->setChecked(true);
    ASSERT_TRUE(t.Settle());

    QSignalSpy started(&t.window, &MainWindow::renderStarted);
    QSignalSpy finished(&t.window, &MainWindow::renderFinished);
    c.DeepContr->setSliderDown(true);
    for (int value = 10; value < 100; value += 9) c.DeepContr->setValue(value);  // ten values
    c.DeepContr->setSliderDown(false);
    ASSERT_TRUE(t.Settle());
    QTest::qWait(300);
    EXPECT_EQ(started.count(), 1);
    ASSERT_EQ(finished.count(), 1);
    EXPECT_TRUE(finished.at(0).at(0).toBool());
    EXPECT_NE(t.window.Params().SettingsText.find("GroundContr 91"), std::string::npos);
    ExpectSameAsAClick(t);
}

TEST(LivePreview, ChangeDuringAPreviewCancelsItAndTheLaterWins) {
    WindowUnderTest t(true);
    const MainWindowControls& c = t.window.Controls();
    c.DeepAutoCreate->setChecked(true);
    ASSERT_TRUE(t.Settle());
    {
        SlowRender render(t.window);
        QSignalSpy started(&t.window, &MainWindow::renderStarted);
        QSignalSpy finished(&t.window, &MainWindow::renderFinished);
        c.DeepSeaThr->setValue(30);
        ASSERT_TRUE(WaitUntil([&] { return render.events > 3; }));
        c.DeepSeaThr->setValue(60);
        // Slow until the pause is over and the running preview has been told to stop.
        ASSERT_TRUE(WaitUntil([&] { return !c.LivePreviewTimer->isActive(); }));
        render.slow = false;
        ASSERT_TRUE(t.Settle());
        // The first gave way without being shown; the second was drawn to its end.
        EXPECT_EQ(started.count(), 2);
        ASSERT_EQ(finished.count(), 1);
        EXPECT_TRUE(finished.at(0).at(0).toBool());
        EXPECT_NE(t.window.Params().SettingsText.find("CoastLevel 60"), std::string::npos);
    }
    ExpectSameAsAClick(t);
}

TEST(LivePreview, FullRenderTakesNoPreviewsAbortStopsAtOnceAndTheMenuTurnsItOff) {
    QTemporaryDir dir;
    WindowUnderTest t(true);
    const MainWindowControls& c = t.window.Controls();
    c.ColorName->setText(dir.filePath(QStringLiteral("c.bmp")));
    ASSERT_TRUE(t.Settle());

    QSignalSpy started(&t.window, &MainWindow::renderStarted);
    QSignalSpy finished(&t.window, &MainWindow::renderFinished);
    {
        SlowRender render(t.window);
        QTest::mouseClick(c.Go, Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return render.events > 3; }));
        c.DeepSeaThr->setValue(50);
        QTest::qWait(300);
        EXPECT_EQ(started.count(), 1);
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(c.RenderAbort, Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return finished.count() > 0; }));
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_FALSE(finished.at(0).at(0).toBool());
    }
    QTest::qWait(300);
    EXPECT_EQ(started.count(), 1);

    c.LivePreview1->trigger();
    EXPECT_FALSE(c.LivePreview1->isChecked());
    EXPECT_FALSE(ReadLivePreviewPreference(t.PreferencesFile().toStdString()));
    c.DeepSeaThr->setValue(70);
    QTest::qWait(300);
    EXPECT_EQ(started.count(), 1);
}

TEST(LivePreview, GlobeViewFollows) {
    WindowUnderTest t(true);
    const MainWindowControls& c = t.window.Controls();
    c.GlobeView1->trigger();
    GlobeWindow* globe = t.window.GlobeForm();
    ASSERT_NE(globe, nullptr);
    EXPECT_FALSE(globe->View()->HasScene());

    c.AirAutoCreate->setChecked(true);
    ASSERT_TRUE(t.Settle());
    ASSERT_TRUE(globe->View()->HasScene());
    const QImage clouds = globe->View()->Picture().copy();
    c.AirAutoCreate->setChecked(false);
    ASSERT_TRUE(t.Settle());
    EXPECT_NE(globe->View()->Picture(), clouds);
}

// The seed button and the map buttons' names of their maps.
TEST(LivePreview, NewSeedButtonPreviewsOnceAndMapButtonsNameTheirMaps) {
    WindowUnderTest t(true);
    const MainWindowControls& c = t.window.Controls();
    ASSERT_TRUE(t.Settle());
    QSignalSpy started(&t.window, &MainWindow::renderStarted);
    const QString before = c.Seed->text();
    QTest::mouseClick(c.NewSeed, Qt::LeftButton);
    EXPECT_NE(c.Seed->text(), before);
    ASSERT_TRUE(t.Settle());
    QTest::qWait(300);
    EXPECT_EQ(started.count(), 1);
    EXPECT_EQ(t.window.Params().RandomSeed, c.Seed->text().toInt());

    QSet<QString> tips;
    for (QPushButton* b : {c.PreviewColor, c.PreviewBump, c.PreviewSpc, c.PreviewCloudColor,
                           c.PreviewCloudBump, c.PreviewCloudTra, c.PreviewNormal})
        tips << b->toolTip();
    EXPECT_EQ(tips.size(), 7);
    EXPECT_TRUE(tips.contains(QStringLiteral("雲の透明度マップ")));
}

TEST(UndoRedo, StepsThroughTheSettingsFileOfEachChangeAndTheStarFollows) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("planet.ORB"));
    const QString copy = dir.filePath(QStringLiteral("copy.ORB"));
    const QString title = QStringLiteral("GlobeForge 1.0e-37 - ") + file;
    WindowUnderTest t;
    const MainWindowControls& c = t.window.Controls();
    ASSERT_TRUE(t.window.SaveSettingsFileAs(file));
    EXPECT_EQ(t.window.windowTitle(), title);
    // What a save would write now, without saving the current file.
    const auto bytes = [&] {
        EXPECT_TRUE(t.window.SaveSettingsFile(copy));
        return ReadFile(copy);
    };

    std::vector<QByteArray> steps{bytes()};
    c.AirAutoCreate->setChecked(true);
    steps.push_back(bytes());
    EXPECT_EQ(t.window.windowTitle(), title + QStringLiteral("*"));
    c.DeepSizeX->setSliderDown(true);  // a drag is one step
    for (int value : {20, 30, 40}) c.DeepSizeX->setValue(value);
    c.DeepSizeX->setSliderDown(false);
    steps.push_back(bytes());
    c.Seed->setText(QStringLiteral("123"));
    steps.push_back(bytes());

    for (size_t i = steps.size() - 1; i > 0; --i) {
        c.Undo1->trigger();
        EXPECT_EQ(bytes(), steps[i - 1]) << i;
    }
    EXPECT_EQ(t.window.windowTitle(), title);
    for (size_t i = 1; i < steps.size(); ++i) {
        c.Redo1->trigger();
        EXPECT_EQ(bytes(), steps[i]) << i;
    }
    EXPECT_FALSE(c.Redo1->isEnabled());
    EXPECT_EQ(t.window.windowTitle(), title + QStringLiteral("*"));
    ASSERT_TRUE(t.window.SaveSettingsFile(file));
    EXPECT_EQ(t.window.windowTitle(), title);

    // Loading a file is one step; a new change drops the steps undone.
    const QString other = dir.filePath(QStringLiteral("other.ORB"));
    WriteFile(other, "GroundXWarp 5\r\nCoastLevel 40\r\n");
    ASSERT_TRUE(t.window.OpenSettingsFile(other));
    EXPECT_EQ(c.DeepSeaThr->value(), 40);
    c.Undo1->trigger();
    EXPECT_EQ(bytes(), steps.back());
    c.DeepIceQua->setValue(3);
    EXPECT_FALSE(c.Redo1->isEnabled());
}

// Opening with unsaved changes asks first; a dropped settings file opens and, like any opened
// file, heads the recent files kept in the preferences; a dropped picture fills its field.
TEST(Files, DroppedOrbOpensAfterAskingAndJoinsTheRecentFiles) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("dropped.ORB"));
    WriteFile(file, "CoastLevel 40\r\n");
    WindowUnderTest t;  // changed: its render size
    const MainWindowControls& c = t.window.Controls();
    EXPECT_FALSE(c.RecentFiles1->isEnabled());

    QString answer = QStringLiteral("キャンセル");
    QStringList asked;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        asked << box->text();
        for (QAbstractButton* button : box->buttons())
            if (button->text() == answer) button->click();
    });
    poll.start(10);

    Drop(&t.window, file);
    ASSERT_TRUE(WaitUntil([&] { return asked.size() == 1; }));
    QTest::qWait(50);
    EXPECT_EQ(c.DeepSeaThr->value(), 0);  // cancelled
    answer = QStringLiteral("保存しない");
    Drop(&t.window, file);
    ASSERT_TRUE(WaitUntil([&] { return c.DeepSeaThr->value() == 40; }));
    EXPECT_EQ(asked.size(), 2);
    EXPECT_EQ(t.window.SettingsFileName(), file);
    EXPECT_EQ(t.window.RecentFiles(), QStringList{file});
    ASSERT_EQ(c.RecentFiles1->actions().size(), 1);
    EXPECT_TRUE(c.RecentFiles1->actions()[0]->text().endsWith(file));

    const QString picture = dir.filePath(QStringLiteral("relief.PNG"));
    Drop(c.DeepPartPictureName, picture);
    EXPECT_EQ(c.DeepPartPictureName->text(), picture);

    MainWindow next;
    next.SetPreferencesFileName(t.PreferencesFile());
    next.show();
    EXPECT_EQ(next.RecentFiles(), QStringList{file});
    next.Controls().RecentFiles1->actions()[0]->trigger();  // nothing changed: no question
    EXPECT_EQ(next.Controls().DeepSeaThr->value(), 40);
    EXPECT_EQ(asked.size(), 2);
}

}  // namespace
}  // namespace globeforge
