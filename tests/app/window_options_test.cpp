#include "app/window_options.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "settings/preferences.h"

namespace globeforge {
namespace {

TEST(WindowOptions, ThreadsSettingsFileAndMistakes) {
    WindowOptions options;
    QString error;
    ASSERT_TRUE(ParseWindowOptions(
        {QStringLiteral("planet.ORB"), QStringLiteral("--threads"), QStringLiteral("3")}, options,
        error));
    EXPECT_EQ(options.threads, 3);
    EXPECT_EQ(options.settingsFile, QStringLiteral("planet.ORB"));
    EXPECT_FALSE(options.help);

    WindowOptions defaults;
    ASSERT_TRUE(ParseWindowOptions({}, defaults, error));
    EXPECT_EQ(defaults.threads, 0);  // every core

    for (const QStringList& bad : {QStringList{QStringLiteral("--threads")},
                                   QStringList{QStringLiteral("--threads"), QStringLiteral("0")},
                                   QStringList{QStringLiteral("--threads"), QStringLiteral("1025")},
                                   QStringList{QStringLiteral("--threads"), QStringLiteral("two")},
                                   QStringList{QStringLiteral("--frobnicate")},
                                   QStringList{QStringLiteral("a.ORB"), QStringLiteral("b.ORB")}}) {
        WindowOptions o;
        error.clear();
        EXPECT_FALSE(ParseWindowOptions(bad, o, error)) << bad.join(' ').toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    WindowOptions help;
    ASSERT_TRUE(ParseWindowOptions({QStringLiteral("--help")}, help, error));
    EXPECT_TRUE(help.help);
    EXPECT_TRUE(WindowUsage().contains(QStringLiteral("--threads N")));
}

// --lang wins over the stored choice, which wins over the locale.
TEST(WindowOptions, LanguageFromOptionPreferenceOrLocale) {
    const char* names[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    QByteArray saved[4];
    for (int i = 0; i < 4; ++i) {
        saved[i] = qgetenv(names[i]);
        qunsetenv(names[i]);
    }
    QTemporaryDir dir;
    const QString prefs = dir.filePath(QStringLiteral("globeforge.INI"));
    QString error;
    WindowOptions none, en, ja;
    ASSERT_TRUE(ParseWindowOptions({QStringLiteral("--lang"), QStringLiteral("en")}, en, error));
    ASSERT_TRUE(ParseWindowOptions({QStringLiteral("--lang"), QStringLiteral("ja")}, ja, error));
    EXPECT_FALSE(ParseWindowOptions({QStringLiteral("--lang"), QStringLiteral("de")}, none, error));
    EXPECT_TRUE(WindowUsage().contains(QStringLiteral("--lang")));

    EXPECT_EQ(StartLanguage(none, prefs), Language::Japanese);  // no locale at all
    EXPECT_EQ(StartLanguage(en, prefs), Language::English);
    qputenv("LANG", "C");
    EXPECT_EQ(StartLanguage(none, prefs), Language::Japanese);
    qputenv("LANG", "ja_JP.UTF-8");
    EXPECT_EQ(StartLanguage(none, prefs), Language::Japanese);
    qputenv("LANG", "en_US.UTF-8");
    EXPECT_EQ(StartLanguage(none, prefs), Language::English);
    EXPECT_EQ(StartLanguage(ja, prefs), Language::Japanese);
    ASSERT_TRUE(WriteLanguagePreference(prefs.toStdString(), LanguageChoice::Japanese).ok);
    EXPECT_EQ(StartLanguage(none, prefs), Language::Japanese);
    EXPECT_EQ(StartLanguage(en, prefs), Language::English);

    for (int i = 0; i < 4; ++i)
        if (saved[i].isNull())
            qunsetenv(names[i]);
        else
            qputenv(names[i], saved[i]);
}

}  // namespace
}  // namespace globeforge
