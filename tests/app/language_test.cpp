// The window in each language: every text translated, the Japanese texts unchanged, every
// caption fitting its widget, and the language choice kept in the preferences.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QTemporaryDir>

#include "app/app_language.h"
#include "app/qt_progress.h"
#include "core/jpeg_quality.h"
#include "image/image_files.h"
#include "settings/preferences.h"
#include "window_harness.h"
#include "window_texts.h"

namespace globeforge {
namespace {

using testing::ModalWatcher;
using testing::ReadFile;
using testing::WindowTextCollector;
using testing::WindowUnderTest;
using testing::WriteFile;

// Items that end the program, write into the current folder or change the settings (the
// open command would then ask about them first).
const QSet<QString> kNotTriggered = {QStringLiteral("Exit1"), QStringLiteral("S1"),
                                     QStringLiteral("NewSeed")};

const QString kJapaneseTexts =
    QStringLiteral(GLOBEFORGE_SOURCE_DIR "/tests/data/app/window_texts_ja.txt");

bool HasJapanese(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x3000 && u <= 0x30FF) || (u >= 0x31F0 && u <= 0x31FF) ||
            (u >= 0x3400 && u <= 0x4DBF) || (u >= 0x4E00 && u <= 0x9FFF) ||
            (u >= 0xFF00 && u <= 0xFFEF))
            return true;
    }
    return false;
}

// The room a control gives its caption, from the style that draws it.
int CaptionRoom(QWidget* w, QStyle::SubElement element) {
    QStyleOptionButton option;
    option.initFrom(w);
    return w->style()->subElementRect(element, &option, w).width();
}

// Records every shown caption that is wider than the room its widget gives it.
std::function<void(QWidget*)> FitChecker(QStringList& clipped) {
    return [&clipped](QWidget* w) {
        if (!w->isVisible()) return;
        QString text;
        int room = w->contentsRect().width();
        if (auto* label = qobject_cast<QLabel*>(w)) {
            text = label->text();
            if (label->wordWrap()) {
                if (label->heightForWidth(room) > w->contentsRect().height())
                    clipped << w->objectName() + QStringLiteral(": ") + text;
                return;
            }
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            text = QString(button->text()).remove(QLatin1Char('&'));
            if (qobject_cast<QCheckBox*>(w))
                room = CaptionRoom(w, QStyle::SE_CheckBoxContents);
            else if (qobject_cast<QRadioButton*>(w))
                room = CaptionRoom(w, QStyle::SE_RadioButtonContents);
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            text = group->title();
        }
        if (!text.isEmpty() && w->fontMetrics().horizontalAdvance(text) > room)
            clipped << w->objectName() + QStringLiteral(": ") + text;
    };
}

// Installs a language for the windows made while it lives.
class LanguageScope {
  public:
    explicit LanguageScope(Language language) { ok_ = UseLanguage(language); }
    ~LanguageScope() { UseLanguage(Language::Japanese); }
    bool ok() const { return ok_; }

  private:
    bool ok_ = false;
};

// Texts added later by other features may join the list; none of today's may change.
TEST(WindowLanguage, JapaneseWindowKeepsEveryTextAndFits) {
    LanguageScope japanese(Language::Japanese);
    MainWindow window;
    window.show();
    QStringList clipped;
    WindowTextCollector collector;
    collector.onWidget = FitChecker(clipped);
    collector.CollectAll(window, kNotTriggered);
    const QStringList lines = collector.Lines();
    if (qEnvironmentVariableIsSet("GLOBEFORGE_CAPTURE_WINDOW_TEXTS")) {
        WriteFile(kJapaneseTexts, lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    }
    const QStringList expected =
        QString::fromUtf8(ReadFile(kJapaneseTexts)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_GT(expected.size(), 80);
    for (const QString& line : expected) EXPECT_TRUE(lines.contains(line)) << line.toStdString();
    EXPECT_EQ(clipped, QStringList());
    EXPECT_EQ(window.size(), QSize(873, 755));
}

// Every text the English window shows, including the progress line of a render and the
// save-error message, is English and fits; only the language menu names Japanese.
TEST(WindowLanguage, EnglishWindowHasNoJapaneseAndFits) {
    LanguageScope english(Language::English);
    ASSERT_TRUE(english.ok());
    WindowUnderTest t;
    MainWindow& window = t.window;
    QStringList clipped;
    WindowTextCollector collector;
    collector.onWidget = FitChecker(clipped);
    collector.CollectAll(window, kNotTriggered);
    const QSet<QString> allowed = {
        QStringLiteral("Language / 言語"), QStringLiteral("日本語"),
        LanguageRestartNotice().replace(QLatin1Char('\n'), QStringLiteral("\\n"))};
    const QStringList lines = collector.Lines();
    EXPECT_GT(lines.size(), 80);
    for (const QString& line : lines) {
        const QString text = line.section(QLatin1Char('\t'), 3);
        EXPECT_TRUE(!HasJapanese(text) || allowed.contains(text)) << line.toStdString();
    }
    EXPECT_TRUE(lines.contains(QStringLiteral(
        "globeforge::MainWindow#ORBGEN_Main_Form\tQMenu#Language1\ttitle\tLanguage / 言語")));
    EXPECT_EQ(window.size(), QSize(873, 755));

    // A render with craters and clouds reports every kind of stage.
    const MainWindowControls& c = window.Controls();
    c.DeepAutoCreate->setChecked(true);
    c.AirAutoCreate->setChecked(true);
    c.NumOfCrater->setText(QStringLiteral("2"));
    QStringList messages;
    QObject::connect(window.ProgressSinkObject(), &QtProgressSink::MessageReady, &window, [&] {
        messages << c.progress_msg->text();
        FitChecker(clipped)(c.progress_msg);
    });
    ASSERT_TRUE(t.Preview());
    EXPECT_GT(messages.size(), 20);
    EXPECT_EQ(messages.value(0), QStringLiteral("Rendering..."));
    EXPECT_EQ(messages.value(messages.size() - 1), QStringLiteral("Render finished."));
    for (const QString& m : messages) EXPECT_FALSE(HasJapanese(m)) << m.toStdString();
    EXPECT_EQ(window.size(), QSize(873, 755));  // no message widened the window

    QTemporaryDir dir;
    c.AirAutoCreate->setChecked(false);
    c.ColorName->setText(dir.filePath(QStringLiteral("c.bmp")));
    c.CloudColorName->setText(dir.filePath(QStringLiteral("clouds.bmp")));
    ModalWatcher watcher;
    ASSERT_TRUE(t.Go());
    ASSERT_EQ(watcher.MessageTexts().size(), 1);
    EXPECT_FALSE(HasJapanese(watcher.MessageTexts()[0])) << watcher.MessageTexts()[0].toStdString();
    EXPECT_EQ(clipped, QStringList());
}

// The menu keeps the choice in a section of its own and tells that it applies at the next
// start; the next window shows the stored choice checked.
TEST(WindowLanguage, MenuChoiceIsKeptBesideTheJpegQuality) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("globeforge.INI"));
    const QByteArray before = "[Orbgen]\r\nJPEGQuality=77\r\n";
    WriteFile(file, before);
    {
        MainWindow window;
        window.SetPreferencesFileName(file);
        window.show();
        EXPECT_TRUE(window.Controls().LanguageAuto->isChecked());
        ModalWatcher watcher;
        window.Controls().LanguageEnglish->trigger();
        EXPECT_EQ(watcher.MessageTexts(), QStringList{LanguageRestartNotice()});
        window.Controls().LanguageJapanese->trigger();  // the window's own: nothing to tell
        EXPECT_EQ(watcher.MessageTexts().size(), 1);
        window.Controls().LanguageEnglish->trigger();
    }
    EXPECT_EQ(ReadFile(file), before + "\r\n[GlobeForge]\r\nLanguage=en\r\n");
    MainWindow again;
    again.SetPreferencesFileName(file);
    again.show();
    EXPECT_TRUE(again.Controls().LanguageEnglish->isChecked());
    EXPECT_EQ(GetJpegQuality(), 77);
}

}  // namespace
}  // namespace globeforge
