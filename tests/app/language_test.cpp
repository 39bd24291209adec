// The window in each language: every text translated, the Japanese texts unchanged, and
// every caption fitting its widget.
#include <gtest/gtest.h>

#include <QFile>

#include "window_harness.h"
#include "window_texts.h"

namespace globeforge {
namespace {

using testing::WindowTextCollector;

// Items that end the program or write into the current folder.
const QSet<QString> kNotTriggered = {QStringLiteral("Exit1"), QStringLiteral("S1")};

const QString kJapaneseTexts =
    QStringLiteral(GLOBEFORGE_SOURCE_DIR "/tests/data/app/window_texts_ja.txt");

QStringList CollectTexts(MainWindow& window) {
    WindowTextCollector collector;
    collector.CollectAll(window, kNotTriggered);
    return collector.Lines();
}

// Texts added later by other features may join the list; none of today's may change.
TEST(WindowLanguage, JapaneseWindowKeepsEveryText) {
    MainWindow window;
    window.show();
    const QStringList lines = CollectTexts(window);
    if (qEnvironmentVariableIsSet("GLOBEFORGE_CAPTURE_WINDOW_TEXTS")) {
        QFile out(kJapaneseTexts);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    }
    QFile in(kJapaneseTexts);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QStringList expected =
        QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_GT(expected.size(), 80);
    for (const QString& line : expected) EXPECT_TRUE(lines.contains(line)) << line.toStdString();
}

}  // namespace
}  // namespace globeforge
