#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>

#include "app/color_panel.h"
#include "app/extended_output_dialog.h"
#include "app/jpeg_quality_dialog.h"
#include "core/jpeg_quality.h"
#include "image/image_files.h"
#include "settings/preferences.h"
#include "settings/settings_model.h"
#include "window_harness.h"

namespace globeforge {
namespace {

using testing::ModalWatcher;
using testing::ReadFile;
using testing::WaitUntil;
using testing::WindowUnderTest;
using testing::WriteFile;

// Runs GoClick even when the button is disabled and waits for the end of the render.
void RunGoClick(MainWindow& window) {
    QSignalSpy finished(&window, &MainWindow::renderFinished);
    QMetaObject::invokeMethod(&window, "GoClick");
    ASSERT_TRUE(WaitUntil([&] { return finished.count() > 0; }));
}

TEST(SettingsBinding, EverySettingHasItsControl) {
    WindowUnderTest t;
    for (const SettingInfo& info : SettingsTable()) {
        for (std::string_view name : info.controls) {
            if (name.empty()) continue;
            QWidget* widget =
                t.window.findChild<QWidget*>(QString::fromUtf8(name.data(), name.size()));
            ASSERT_NE(widget, nullptr) << name;
            bool rightKind = false;
            switch (info.kind) {
                case SettingKind::Text:
                    rightKind = qobject_cast<QLineEdit*>(widget);
                    break;
                case SettingKind::Bool:
                    rightKind = qobject_cast<QCheckBox*>(widget);
                    break;
                case SettingKind::Color:
                    rightKind = qobject_cast<ColorPanel*>(widget);
                    break;
                case SettingKind::TrackBar: {
                    auto* bar = qobject_cast<QSlider*>(widget);
                    const TrackBar range = *SettingValue<TrackBar>(SettingsModel{}, info);
                    rightKind = bar && bar->minimum() == range.Min() &&
                                bar->maximum() == range.Max() && bar->value() == range.Position();
                    break;
                }
                case SettingKind::Spin:
                    rightKind = qobject_cast<QSpinBox*>(widget);
                    break;
                case SettingKind::Mixture:
                case SettingKind::TransparencyMode:
                case SettingKind::HeightDepth:
                    rightKind = qobject_cast<QRadioButton*>(widget);
                    break;
                case SettingKind::Version:
                    break;
            }
            EXPECT_TRUE(rightKind) << name;
        }
    }
    // The controls start in the model's default state (but for the harness's tiny size).
    SettingsModel defaults;
    defaults.ResX = defaults.ResY = "16";
    EXPECT_TRUE(t.window.ModelFromControls() == defaults);
}

TEST(SettingsBinding, SavedFileRestoresEveryControlInAnotherWindow) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("planet one.ORB"));
    SettingsModel saved;
    {
        WindowUnderTest t;
        const MainWindowControls& c = t.window.Controls();
        c.Seed->setText(QStringLiteral("-7"));
        c.DeepPartPictureName->setText(QStringLiteral("my height map.bmp"));
        c.DeepAutoCreate->setChecked(true);
        c.DeepColor1->SetColorValue(0x12345678u);  // a top byte survives the round trip
        c.DeepContr->setValue(40);
        c.Ovsmp->setValue(3);
        c.AirBmpSub->setChecked(true);
        c.DeepNorm->setChecked(true);
        c.forAlphaBlending->setChecked(true);
        c.CloudTraName->setText(QStringLiteral("クラウド.bmp"));
        saved = t.window.ModelFromControls();
        ASSERT_TRUE(t.window.SaveSettingsFileAs(file));
        EXPECT_EQ(t.window.windowTitle(), QStringLiteral("GlobeForge 1.0e-37 - ") + file);
    }

    WindowUnderTest t;
    ModalWatcher watcher;
    EXPECT_FALSE(t.window.Controls().Go->isEnabled());
    ASSERT_TRUE(t.window.OpenSettingsFile(file));
    EXPECT_TRUE(watcher.MessageTexts().isEmpty());
    EXPECT_TRUE(t.window.ModelFromControls() == saved);
    const MainWindowControls& c = t.window.Controls();
    EXPECT_EQ(c.DeepColor1->ColorValue(), 0x12345678u);
    EXPECT_TRUE(c.AirBmpSub->isChecked());
    EXPECT_TRUE(c.DeepNorm->isChecked());
    EXPECT_TRUE(c.forAlphaBlending->isChecked());
    EXPECT_EQ(c.Ovsmp->value(), 3);
    EXPECT_EQ(c.CloudTraName->text(), QStringLiteral("クラウド.bmp"));
    EXPECT_TRUE(c.Go->isEnabled());  // the loaded output name went through the change handler
    EXPECT_EQ(t.window.windowTitle(), QStringLiteral("GlobeForge 1.0e-37 - ") + file);
}

TEST(SettingsBinding, BadLineStopsTheLoadAndTheWindowStaysUsable) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("broken.ORB"));
    WriteFile(file, "GroundXWarp 5\r\nGroundColorHigh zz\r\nCoastLevel 40\r\n");
    WindowUnderTest t;
    ModalWatcher watcher;
    EXPECT_FALSE(t.window.OpenSettingsFile(file));
    ASSERT_EQ(watcher.MessageTexts().size(), 1);
    EXPECT_TRUE(watcher.MessageTexts().at(0).contains(file));
    EXPECT_TRUE(watcher.MessageTexts().at(0).contains(QStringLiteral("line 2")));
    const MainWindowControls& c = t.window.Controls();
    EXPECT_EQ(c.DeepSizeX->value(), 5);
    EXPECT_EQ(c.DeepSeaThr->value(), 0);
    EXPECT_EQ(c.DeepColor1->ColorValue(), 0x00000080u);
    // The name is taken, the caption still names the old file (whose settings these are not).
    EXPECT_EQ(t.window.SettingsFileName(), file);
    EXPECT_EQ(t.window.windowTitle(), QStringLiteral("GlobeForge 1.0e-37 - 新規.ORB*"));

    // A file that cannot be read applies nothing; then a render still runs.
    EXPECT_FALSE(t.window.OpenSettingsFile(dir.filePath(QStringLiteral("missing.ORB"))));
    EXPECT_EQ(watcher.MessageTexts().size(), 2);
    EXPECT_EQ(c.DeepSizeX->value(), 5);
    EXPECT_TRUE(t.Preview());
    EXPECT_EQ(c.progress_msg->text(), QStringLiteral("作画終了"));
}

TEST(SettingsBinding, LenientFileLoadsAndShowsWhatItChangedOnce) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("lenient.ORB"));
    WriteFile(file, "CoastLevel 400\r\nGroundMixtureMode add\r\nGroundXWarp 7\r\n");
    WindowUnderTest t;
    ModalWatcher watcher;
    ASSERT_TRUE(t.window.OpenSettingsFile(file));
    ASSERT_EQ(watcher.MessageTexts().size(), 1);
    EXPECT_EQ(watcher.MessageTexts().at(0),
              file + QStringLiteral(" line 1: CoastLevel 400 is out of range, 100 used\n") + file +
                  QStringLiteral(" line 2: GroundMixtureMode 'add' is not Add, Norm or Sub, Add "
                                 "kept"));
    const MainWindowControls& c = t.window.Controls();
    EXPECT_EQ(c.DeepSeaThr->value(), 100);
    EXPECT_TRUE(c.DeepAdd->isChecked());
    EXPECT_EQ(c.DeepSizeX->value(), 7);
    EXPECT_EQ(t.window.windowTitle(), QStringLiteral("GlobeForge 1.0e-37 - ") + file);
}

TEST(SettingsBinding, RenderReadsIntegerTextsAndTrimmedNames) {
    QTemporaryDir dir;
    WindowUnderTest t;
    const MainWindowControls& c = t.window.Controls();
    const struct {
        const char* text;
        int32_t seed;
    } seeds[] = {{"abc", 0}, {"-7", -7}, {"$10", 16}, {"12 ", 0}};
    for (const auto& s : seeds) {
        c.Seed->setText(QString::fromLatin1(s.text));
        RunGoClick(t.window);
        EXPECT_EQ(t.window.Params().RandomSeed, s.seed) << s.text;
    }
    const QString bump = dir.filePath(QStringLiteral("bump.bmp"));
    c.BumpName->setText(QStringLiteral("  ") + bump + QStringLiteral(" "));
    RunGoClick(t.window);
    EXPECT_EQ(QString::fromStdString(t.window.Params().OutputBumpMap), bump);
    EXPECT_TRUE(QFile::exists(bump));
}

struct ExtendedValues {
    bool depth16;
    QString normalName;
    int strength;
    bool cubeFaces;
    const char* button;  // BitBtn1 (OK) or BitBtn2 (Cancel)
};

// Opens the extended output dialog from the options menu, records what it showed on
// opening, enters `values` and leaves it with their button.
ExtendedValues RunExtendedDialog(MainWindow& window, const ExtendedValues& values) {
    const MainWindowControls& c = window.Controls();
    ExtendedValues shown{};
    ModalWatcher watcher([&](QDialog* dialog) {
        if (dialog != c.ExtendedOutputForm || !dialog->isVisible()) return;
        shown = {c.HeightDepth16->isChecked(), c.NormalName->text(), c.NormalStrength->value(),
                 c.CubeMapFaces->isChecked(), nullptr};
        (values.depth16 ? c.HeightDepth16 : c.HeightDepth8)->setChecked(true);
        c.NormalName->setText(values.normalName);
        c.NormalStrength->setValue(values.strength);
        c.CubeMapFaces->setChecked(values.cubeFaces);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QString::fromLatin1(values.button)),
                          Qt::LeftButton);
    });
    c.ExtendedOutput1->trigger();
    return shown;
}

TEST(ExtendedOutputDialog, CancelRestoresOkKeepsAndSettingsFilesAndRendersCarryIt) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("extended.ORB"));
    const QString normal = dir.filePath(QStringLiteral("normal.png"));
    SettingsModel saved;
    {
        WindowUnderTest t;
        const MainWindowControls& c = t.window.Controls();
        // Reached from the options menu, and not part of the main page.
        QMenu* options = t.window.menuBar()->findChild<QMenu*>(QStringLiteral("Option1"));
        ASSERT_NE(options, nullptr);
        EXPECT_TRUE(options->actions().contains(c.ExtendedOutput1));
        EXPECT_EQ(c.ExtendedOutput1->text(), QStringLiteral("拡張出力設定...(&E)"));
        EXPECT_EQ(c.ExtendedOutputForm->windowTitle(), QStringLiteral("拡張出力設定"));
        EXPECT_TRUE(c.ExtendedOutputForm->isModal());
        EXPECT_FALSE(t.window.centralWidget()->isAncestorOf(c.NormalName));

        ExtendedValues shown = RunExtendedDialog(t.window, {true, normal, 55, true, "BitBtn2"});
        EXPECT_FALSE(shown.depth16);
        EXPECT_EQ(shown.strength, 20);
        EXPECT_TRUE(c.HeightDepth8->isChecked());
        EXPECT_TRUE(c.NormalName->text().isEmpty());
        EXPECT_EQ(c.NormalStrength->value(), 20);
        EXPECT_FALSE(c.CubeMapFaces->isChecked());
        EXPECT_FALSE(c.Go->isEnabled());
        EXPECT_TRUE(t.window.ModelFromControls().NormalName.empty());

        RunExtendedDialog(t.window, {true, normal, 55, true, "BitBtn1"});
        EXPECT_TRUE(c.Go->isEnabled());  // the normal map's name is an output name
        SettingsModel model = t.window.ModelFromControls();
        EXPECT_TRUE(model.HeightDepth16);
        EXPECT_EQ(QString::fromStdString(model.NormalName), normal);
        EXPECT_EQ(model.NormalStrength.Position(), 55);
        EXPECT_TRUE(model.CubeMapFaces);

        // Cancel goes back to what the dialog opened with, not to the defaults.
        shown = RunExtendedDialog(t.window, {false, QString(), 1, false, "BitBtn2"});
        EXPECT_TRUE(shown.depth16);
        EXPECT_EQ(shown.normalName, normal);
        EXPECT_TRUE(t.window.ModelFromControls() == model);

        // A full render takes the dialog's values and writes the normal map.
        RunGoClick(t.window);
        EXPECT_EQ(t.window.Params().HeightBitDepth, 16);
        EXPECT_EQ(t.window.Params().NormalStrength, 55);
        EXPECT_TRUE(t.window.Params().CubeMapFaces);
        ASSERT_TRUE(t.window.Params().NormalMapImage.has_value());
        EXPECT_TRUE(QFile::exists(normal));

        saved = t.window.ModelFromControls();
        ASSERT_TRUE(t.window.SaveSettingsFileAs(file));
    }
    const QByteArray text = ReadFile(file);
    EXPECT_TRUE(text.contains("HeightBitDepth 16\r\n"));
    EXPECT_TRUE(text.contains("CubeMapFaces True\r\n"));

    WindowUnderTest t;
    ASSERT_TRUE(t.window.OpenSettingsFile(file));
    EXPECT_TRUE(t.window.ModelFromControls() == saved);
    const MainWindowControls& c = t.window.Controls();
    EXPECT_TRUE(c.HeightDepth16->isChecked());
    EXPECT_EQ(c.NormalName->text(), normal);
    EXPECT_EQ(c.NormalStrength->value(), 55);
    EXPECT_TRUE(c.CubeMapFaces->isChecked());
    EXPECT_TRUE(c.Go->isEnabled());
}

TEST(ExtendedOutputDialog, ReferenceButtonOffersExrAndCancelUndoesItsPick) {
    QTemporaryDir dir;
    const QString picked = dir.filePath(QStringLiteral("normal.exr"));
    WindowUnderTest t;
    const MainWindowControls& c = t.window.Controls();
    QStringList filters;
    ModalWatcher watcher([&](QDialog* dialog) {
        auto* files = qobject_cast<QFileDialog*>(dialog);
        if (!files || !files->isVisible()) return;
        filters = files->nameFilters();
        // Typed into the name field: selectFile leaves the field alone while it has the
        // focus, and whether the dialog has been activated yet depends on timing.
        files->setDirectory(dir.path());
        if (auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(QStringLiteral("normal.exr"));
        else
            files->selectFile(picked);
        dialog->accept();  // QFileDialog::accept, through the public base
    });
    // Driven without its own event loop, so the watcher only meets the file dialog.
    c.ExtendedOutputForm->show();
    QTest::mouseClick(c.NormalRef, Qt::LeftButton);
    ASSERT_EQ(filters.size(), 1);
    EXPECT_TRUE(filters.at(0).contains(QStringLiteral("*.exr")));
    EXPECT_TRUE(filters.at(0).contains(QStringLiteral("*.png")));
    EXPECT_EQ(c.NormalName->text(), picked);
    EXPECT_TRUE(c.Go->isEnabled());

    QTest::mouseClick(c.ExtendedOutputForm->findChild<QPushButton*>(QStringLiteral("BitBtn2")),
                      Qt::LeftButton);
    EXPECT_FALSE(c.ExtendedOutputForm->isVisible());
    EXPECT_TRUE(c.NormalName->text().isEmpty());
    EXPECT_FALSE(c.Go->isEnabled());
}

TEST(SettingsMenu, SaveWithoutDialogUsesTheCurrentName) {
    QTemporaryDir dir;
    const QString oldDir = QDir::currentPath();
    QDir::setCurrent(dir.path());  // the initial name is relative
    {
        WindowUnderTest t;
        t.window.Controls().DeepSeaThr->setValue(40);
        QMetaObject::invokeMethod(&t.window, "S1Click");
    }
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("新規.ORB"))));
    WindowUnderTest t;
    EXPECT_TRUE(t.window.OpenSettingsFile(QStringLiteral("新規.ORB")));
    EXPECT_EQ(t.window.Controls().DeepSeaThr->value(), 40);
    QDir::setCurrent(oldDir);
}

TEST(JpegQualityPreference, ReadAtFirstShowAndWrittenAfterOkAndCancel) {
    const QString expected =
        qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/globeforge/globeforge.INI");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(expected).path()));
    WriteFile(expected, "[Orbgen]\r\nJPEGQuality=75\r\n");
    SetJpegQuality(90);

    MainWindow window;
    EXPECT_EQ(window.PreferencesFileName(), expected);
    EXPECT_EQ(GetJpegQuality(), 90);  // read when the window is first shown
    window.show();
    EXPECT_EQ(GetJpegQuality(), 75);

    int nextValue = 50;
    const char* button = "BitBtn2";
    ModalWatcher watcher([&](QDialog* dialog) {
        auto* form = qobject_cast<JPEGQualityForm*>(dialog);
        if (!form || !form->isVisible()) return;
        form->Quality()->setValue(nextValue);
        QTest::mouseClick(form->findChild<QPushButton*>(QString::fromLatin1(button)),
                          Qt::LeftButton);
    });
    window.Controls().JPEGJ1->trigger();  // cancelled: the file keeps the current 75
    EXPECT_EQ(GetJpegQuality(), 75);
    EXPECT_EQ(ReadJpegQualityPreference(expected.toStdString()), 75);

    nextValue = 60;
    button = "BitBtn1";
    window.Controls().JPEGJ1->trigger();
    EXPECT_EQ(GetJpegQuality(), 60);
    EXPECT_EQ(ReadJpegQualityPreference(expected.toStdString()), 60);

    QFile::remove(expected);
    SetJpegQuality(90);
}

}  // namespace
}  // namespace globeforge
