// The globe view: opened from the view menu beside the main window, it shows the planet of
// the last preview and turns when dragged.
#include "app/globe_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QMenuBar>
#include <QTemporaryDir>

#include "image/image_files.h"
#include "window_harness.h"

namespace globeforge {
namespace {

using testing::WindowUnderTest;

// The share of pixels that are not black, and the mean brightness of those.
struct Coverage {
    double lit = 0;
    double brightness = 0;
};
Coverage CoverageOf(const QImage& picture) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    size_t lit = 0;
    double sum = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const uchar* row = rgb.constScanLine(y);
        for (int x = 0; x < rgb.width() * 3; x += 3) {
            const int v = row[x] + row[x + 1] + row[x + 2];
            if (v > 12) {
                ++lit;
                sum += v / 3.0;
            }
        }
    }
    const double all = double(rgb.width()) * rgb.height();
    return {lit / all, lit ? sum / lit : 0};
}

TEST(GlobeWindow, OpensFromTheMenuShowsThePreviewPlanetAndTurnsWhenDragged) {
    WindowUnderTest t;
    // A planet under generated clouds.
    t.window.Controls().AirAutoCreate->setChecked(true);
    const QSize mainSize = t.window.size();

    QMenu* view = t.window.menuBar()->findChild<QMenu*>(QStringLiteral("View1"));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->title(), QStringLiteral("表示(&V)"));
    ASSERT_TRUE(view->actions().contains(t.window.Controls().GlobeView1));
    EXPECT_EQ(t.window.Controls().GlobeView1->text(), QStringLiteral("地球儀ビュー(&G)"));
    t.window.Controls().GlobeView1->trigger();
    GlobeWindow* globe = t.window.GlobeForm();
    ASSERT_NE(globe, nullptr);
    EXPECT_TRUE(globe->isVisible());
    EXPECT_TRUE(globe->isWindow());
    EXPECT_FALSE(globe->isModal());
    EXPECT_EQ(t.window.size(), mainSize);  // the main window keeps its layout
    // Before any render: black, nothing to save.
    EXPECT_EQ(CoverageOf(globe->View()->Picture()).lit, 0.0);
    EXPECT_FALSE(globe->SaveButton()->isEnabled());

    ASSERT_TRUE(t.Preview());
    const QImage first = globe->View()->Picture();
    const Coverage seen = CoverageOf(first);
    // A lit disc at 0.9 of the view covers about 0.64 of it; the night side is dark.
    EXPECT_GT(seen.lit, 0.2);
    EXPECT_LT(seen.lit, 0.8);
    EXPECT_GT(seen.brightness, 20);

    // A drag across the middle turns the planet; the window still shows a planet.
    QWidget* area = globe->View();
    QTest::mousePress(area, Qt::LeftButton, {}, QPoint(60, 80));
    QTest::mouseMove(area, QPoint(100, 70));
    QTest::mouseRelease(area, Qt::LeftButton, {}, QPoint(100, 70));
    const QImage turned = globe->View()->Picture();
    EXPECT_NE(turned, first);
    EXPECT_LT(globe->View()->Camera().longitude, 0.0);  // dragged right: the west comes up
    EXPECT_GT(CoverageOf(turned).lit, 0.2);

    // Hiding the clouds changes the picture; the view saves as a PNG with the settings.
    globe->HideClouds()->setChecked(true);
    EXPECT_NE(globe->View()->Picture(), turned);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("globe.png"));
    ASSERT_TRUE(globe->SaveViewAs(file));
    FloatImage saved;
    ASSERT_TRUE(LoadImageFile(saved, file.toStdString()));
    EXPECT_EQ(saved.Width, globe->View()->width());
    MapProvenance provenance;
    ASSERT_TRUE(ReadMapProvenance(file.toStdString(), provenance));
    EXPECT_NE(provenance.settingsText.find("CloudAutoCreate True"), std::string::npos);
}

}  // namespace
}  // namespace globeforge
