#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QColorDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "app/color_panel.h"
#include "app/preview_image.h"
#include "app/progress_gauge.h"
#include "app/qt_progress.h"
#include "image/color_pack.h"
#include "window_harness.h"

namespace globeforge {
namespace {

using testing::ModalWatcher;
using testing::WaitUntil;
using testing::WindowUnderTest;

// True when the back buffer shows every pixel of the map (stretched to the buffer).
bool BufferShows(const QImage& buffer, const FloatImage& map) {
    for (int y = 0; y < map.Height; ++y) {
        for (int x = 0; x < map.Width; ++x) {
            const int bx =
                static_cast<int>((2 * x + 1) * int64_t{buffer.width()} / (2 * map.Width));
            const int by =
                static_cast<int>((2 * y + 1) * int64_t{buffer.height()} / (2 * map.Height));
            const QColor shown = buffer.pixelColor(bx, by);
            const FloatPixel& p = map.At(x, y);
            if (shown.red() != FloatToByte(p.R) || shown.green() != FloatToByte(p.G) ||
                shown.blue() != FloatToByte(p.B))
                return false;
        }
    }
    return true;
}

std::vector<QString> VisiblePreviewButtons(const MainWindow& w) {
    std::vector<QString> names;
    const MainWindowControls& c = w.Controls();
    for (QPushButton* b : {c.PreviewColor, c.PreviewBump, c.PreviewSpc, c.PreviewCloudColor,
                           c.PreviewCloudBump, c.PreviewCloudTra, c.PreviewNormal})
        if (b->isVisible()) names.push_back(b->objectName());
    return names;
}

TEST(MainWindowStart, CaptionGoAndPreviewButtons) {
    WindowUnderTest t;
    const MainWindowControls& c = t.window.Controls();
    // The test's render size is a change the file does not have yet.
    EXPECT_EQ(t.window.windowTitle(), QStringLiteral("GlobeForge 1.0e-37 - 新規.ORB*"));
    EXPECT_FALSE(c.Go->isEnabled());
    EXPECT_TRUE(VisiblePreviewButtons(t.window).empty());
    EXPECT_EQ(t.window.size(), QSize(873, 755));
    EXPECT_EQ(c.Preview->size(), QSize(512, 512));
    EXPECT_EQ(c.Go->text(), QStringLiteral("がんばって本作画"));
    EXPECT_TRUE(c.progress_msg->text().isEmpty());
    // The Japanese captions need a font that has the glyphs.
    EXPECT_TRUE(c.Go->fontInfo().family().startsWith(QStringLiteral("IPA")))
        << c.Go->fontInfo().family().toStdString();
}

TEST(GoEnabling, FollowsEveryOutputNameAndCountsBlanksAsText) {
    WindowUnderTest t;
    const MainWindowControls& c = t.window.Controls();
    for (QLineEdit* name : {c.ColorName, c.BumpName, c.SpecularName, c.CloudColorName,
                            c.CloudBumpName, c.CloudTraName, c.NormalName}) {
        QTest::keyClicks(name, QStringLiteral("a"));
        EXPECT_TRUE(c.Go->isEnabled()) << name->objectName().toStdString();
        QTest::keyClick(name, Qt::Key_Backspace);
        EXPECT_FALSE(c.Go->isEnabled()) << name->objectName().toStdString();
    }

    // Three blanks enable the command, but the render sees no name: nothing is offered (the
    // maps exist only for the globe view), nothing is saved and no error is reported.
    QTest::keyClicks(c.BumpName, QStringLiteral("   "));
    EXPECT_TRUE(c.Go->isEnabled());
    ModalWatcher watcher;
    ASSERT_TRUE(t.Go());
    EXPECT_TRUE(t.window.Params().OutputBumpMap.empty());
    EXPECT_FALSE(c.PreviewBump->isVisible());
    EXPECT_TRUE(watcher.MessageTexts().isEmpty());
    EXPECT_TRUE(c.Go->isEnabled());
    EXPECT_EQ(c.progress_msg->text(), QStringLiteral("作画終了"));
}

TEST(PreviewRender, BuildsEveryMapWithoutNamesAndSavesNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString oldDir = QDir::currentPath();
    QDir::setCurrent(dir.path());  // a stray "-" file would land here

    WindowUnderTest t;
    const MainWindowControls& c = t.window.Controls();

    // Default settings: no cloud layer, so only the three ground maps and the normal map
    // exist.
    ASSERT_TRUE(t.Preview());
    EXPECT_EQ(VisiblePreviewButtons(t.window),
              (std::vector<QString>{"PreviewColor", "PreviewBump", "PreviewSpc", "PreviewNormal"}));
    ASSERT_TRUE(t.window.Params().NormalMapImage.has_value());
    ASSERT_TRUE(t.window.Params().ColorMapImage.has_value());
    EXPECT_EQ(t.window.Params().ColorMapImage->Width, 128);
    EXPECT_EQ(t.window.Params().ColorMapImage->Height, 128);
    EXPECT_TRUE(BufferShows(t.window.PreviewBuffer(), *t.window.Params().ColorMapImage));
    EXPECT_TRUE(c.Go->isEnabled());  // enabled after a render even without names
    EXPECT_EQ(c.progress_msg->text(), QStringLiteral("作画終了"));

    // With generated clouds all seven maps are built; the buttons select a map directly.
    c.AirAutoCreate->setChecked(true);
    ASSERT_TRUE(t.Preview());
    EXPECT_EQ(VisiblePreviewButtons(t.window).size(), 7u);
    const RenderParams& p = t.window.Params();
    ASSERT_TRUE(p.ColorMapImage && p.CloudTransparencyMapImage && p.BumpMapImage &&
                p.NormalMapImage);
    EXPECT_TRUE(BufferShows(t.window.PreviewBuffer(), *p.ColorMapImage));
    QTest::mouseClick(c.PreviewCloudTra, Qt::LeftButton);
    EXPECT_TRUE(BufferShows(t.window.PreviewBuffer(), *p.CloudTransparencyMapImage));
    QTest::mouseClick(c.PreviewBump, Qt::LeftButton);
    EXPECT_TRUE(BufferShows(t.window.PreviewBuffer(), *p.BumpMapImage));
    QTest::mouseClick(c.PreviewNormal, Qt::LeftButton);
    EXPECT_TRUE(BufferShows(t.window.PreviewBuffer(), *p.NormalMapImage));

    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    QDir::setCurrent(oldDir);
}

TEST(PreviewRender, OnlyTheNamedMapIsBuiltAndShown) {
    QTemporaryDir dir;
    WindowUnderTest t;
    const MainWindowControls& c = t.window.Controls();
    const QString bump = dir.filePath(QStringLiteral("bump.bmp"));
    c.BumpName->setText(bump);
    ASSERT_TRUE(t.Preview());
    EXPECT_EQ(VisiblePreviewButtons(t.window), (std::vector<QString>{"PreviewBump"}));
    ASSERT_TRUE(t.window.Params().BumpMapImage.has_value());
    // The colour map is built for the globe view only: not offered, not shown.
    EXPECT_TRUE(t.window.Params().ColorMapImage.has_value());
    EXPECT_TRUE(BufferShows(t.window.PreviewBuffer(), *t.window.Params().BumpMapImage));
    EXPECT_FALSE(QFile::exists(bump));  // a preview saves nothing

    // The normal map alone: built, shown through the seventh button, and the first map shown
    // although it comes last.
    const QString normal = dir.filePath(QStringLiteral("normal.png"));
    c.BumpName->clear();
    c.NormalName->setText(normal);
    ASSERT_TRUE(t.Preview());
    EXPECT_EQ(VisiblePreviewButtons(t.window), (std::vector<QString>{"PreviewNormal"}));
    const RenderParams& p = t.window.Params();
    ASSERT_TRUE(p.NormalMapImage.has_value());
    EXPECT_EQ(p.NormalMapImage->Width, 128);
    EXPECT_TRUE(p.ColorMapImage.has_value());  // for the globe view, not offered
    EXPECT_TRUE(BufferShows(t.window.PreviewBuffer(), *p.NormalMapImage));
    EXPECT_FALSE(QFile::exists(normal));
}

TEST(RenderCommands, ClicksDuringARenderAreIgnored) {
    WindowUnderTest t;
    QSignalSpy started(&t.window, &MainWindow::renderStarted);
    QSignalSpy finished(&t.window, &MainWindow::renderFinished);
    QTest::mouseClick(t.window.Controls().Preview, Qt::LeftButton);
    ASSERT_TRUE(t.window.IsRendering());
    EXPECT_FALSE(t.window.Controls().Go->isEnabled());
    // Go is disabled, so call the commands themselves as a second click would.
    QMetaObject::invokeMethod(&t.window, "GoClick");
    QMetaObject::invokeMethod(&t.window, "PreviewClick");
    QTest::mouseClick(t.window.Controls().Preview, Qt::LeftButton);
    EXPECT_EQ(started.count(), 1);
    ASSERT_TRUE(WaitUntil([&] { return finished.count() == 1; }));
    EXPECT_EQ(started.count(), 1);
    EXPECT_FALSE(t.window.IsRendering());
}

TEST(RenderCommands, AbortStopsTheRunningRenderOnly) {
    WindowUnderTest t;
    const MainWindowControls& c = t.window.Controls();
    c.DeepAutoCreate->setChecked(true);

    // An abort while idle does not spoil the next render.
    QTest::mouseClick(c.RenderAbort, Qt::LeftButton);
    ASSERT_TRUE(t.Preview());
    EXPECT_EQ(c.progress_msg->text(), QStringLiteral("作画終了"));

    // Hold the render inside its stages until the abort button has been clicked.
    std::atomic<int> calls{0};
    std::atomic<bool> inside{false};
    std::atomic<bool> release{false};
    t.window.ProgressSinkObject()->SetEventHook([&] {
        if (++calls != 2) return;  // the first event point precedes the flag's reset
        inside = true;
        while (!release) std::this_thread::yield();
    });
    QSignalSpy finished(&t.window, &MainWindow::renderFinished);
    QTest::mouseClick(c.Preview, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return inside.load(); }));
    QTest::mouseClick(c.RenderAbort, Qt::LeftButton);
    release = true;
    ASSERT_TRUE(WaitUntil([&] { return finished.count() == 1; }));
    t.window.ProgressSinkObject()->SetEventHook({});
    EXPECT_FALSE(finished.at(0).at(0).toBool());
    EXPECT_EQ(c.progress_msg->text(), QStringLiteral("作画中止"));
    EXPECT_TRUE(c.Go->isEnabled());
}

TEST(FullRender, MissingCloudMapReportsSaveErrorAfterWritingGroundMap) {
    QTemporaryDir dir;
    WindowUnderTest t;
    const MainWindowControls& c = t.window.Controls();
    const QString color = dir.filePath(QStringLiteral("color.bmp"));
    c.ColorName->setText(color);
    c.CloudColorName->setText(dir.filePath(QStringLiteral("cloud.bmp")));
    ModalWatcher watcher;
    ASSERT_TRUE(t.Go());
    ASSERT_EQ(watcher.MessageTexts().size(), 1);
    EXPECT_EQ(watcher.MessageTexts().at(0),
              QStringLiteral("`画像のセーブエラー発生。致命的かも。"));
    EXPECT_TRUE(QFile::exists(color));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("cloud.bmp"))));
    // The built map stays viewable.
    EXPECT_EQ(VisiblePreviewButtons(t.window), (std::vector<QString>{"PreviewColor"}));
    EXPECT_TRUE(c.Go->isEnabled());
}

TEST(FullRender, ASizeThatCannotRenderIsReportedNotSilent) {
    WindowUnderTest t;
    const MainWindowControls& c = t.window.Controls();
    c.ResX->setText(QStringLiteral("0"));
    c.ColorName->setText(QStringLiteral("never.bmp"));
    ModalWatcher watcher;
    ASSERT_TRUE(t.Go());
    ASSERT_EQ(watcher.MessageTexts().size(), 1);  // why, and no save-error message on top
    EXPECT_TRUE(watcher.MessageTexts().at(0).contains(QStringLiteral("resolution")));
    EXPECT_EQ(c.progress_msg->text(), QStringLiteral("作画中止"));
    EXPECT_FALSE(QFile::exists(QStringLiteral("never.bmp")));
    EXPECT_TRUE(c.Go->isEnabled());
}

TEST(ColorButtons, SharedDialogRemembersItsLastColourNotThePanels) {
    WindowUnderTest t;
    const MainWindowControls& c = t.window.Controls();
    std::vector<QColor> offered;
    QColor pick = Qt::red;
    bool accept = true;
    ModalWatcher watcher([&](QDialog* dialog) {
        auto* colors = qobject_cast<QColorDialog*>(dialog);
        if (!colors || !colors->isVisible()) return;
        offered.push_back(colors->currentColor());
        colors->setCurrentColor(pick);
        accept ? colors->accept() : colors->reject();
    });
    QTest::mouseClick(c.SetDeepColor1, Qt::LeftButton);
    EXPECT_EQ(c.DeepColor1->Color(), QColor(Qt::red));

    pick = Qt::green;
    accept = false;
    QTest::mouseClick(c.SetAirColor1, Qt::LeftButton);  // cancelled: the panel stays white
    EXPECT_EQ(c.AirColor1->Color(), QColor(Qt::white));

    pick = Qt::blue;
    accept = true;
    QTest::mouseClick(c.SerDeepSeaColor1, Qt::LeftButton);
    EXPECT_EQ(c.DeepSeaColor1->Color(), QColor(Qt::blue));

    ASSERT_EQ(offered.size(), 3u);
    EXPECT_EQ(offered[0], QColor(Qt::black));  // black at first, not the panel's dark red
    EXPECT_EQ(offered[1], QColor(Qt::red));    // the last accepted colour
    EXPECT_EQ(offered[2], QColor(Qt::red));    // a cancel does not change it
}

TEST(ProgressDisplay, GaugeFollowsReportCountAndPercent) {
    WindowUnderTest t;
    RenderContext& ctx = t.window.Context();
    const ProgressGauge::Kind kinds[] = {ProgressGauge::Kind::HorizontalBar,
                                         ProgressGauge::Kind::Needle, ProgressGauge::Kind::Pie,
                                         ProgressGauge::Kind::VerticalBar};
    for (int count = 0; count < 8; ++count) {
        ctx.ProgressCount = count;
        ctx.ProgressPercent = 10 * count;
        EXPECT_TRUE(WaitUntil(
            [&] {
                return t.window.Controls().Progress->GaugeKind() == kinds[count % 4] &&
                       t.window.Controls().Progress->Progress() == 10 * count;
            },
            5000))
            << count;
    }
}

TEST(PreviewImage, DownSamplesLargeMapsOnly) {
    // A 4 x 2 map sampled into 2 x 1 takes every other column of the top row.
    std::optional<FloatImage> map = NewImage(4, 2);
    ASSERT_TRUE(map);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            map->At(x, y) = {float(10 * x + 100 * y), float(x), float(y), 255.0f};
    const QImage small = FloatImageToQImage(*map, 2, 1);
    ASSERT_EQ(small.size(), QSize(2, 1));
    EXPECT_EQ(small.pixelColor(0, 0), QColor(0, 0, 0));
    EXPECT_EQ(small.pixelColor(1, 0), QColor(20, 2, 0));
    // A map within the limit keeps its size.
    const QImage full = FloatImageToQImage(*map, 512, 512);
    ASSERT_EQ(full.size(), QSize(4, 2));
    EXPECT_EQ(full.pixelColor(3, 1), QColor(130, 3, 1));
}

}  // namespace
}  // namespace globeforge
