// Entry point of the window tests: the widgets need a QApplication before any test runs,
// and the preferences go to a scratch configuration folder instead of the user's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    QTemporaryDir config;
    if (!config.isValid()) return 2;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
