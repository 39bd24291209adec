#include "app/window_options.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace globeforge
