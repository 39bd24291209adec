// The window program's command line: a thread count for renders and, for documentation,
// a screenshot to take.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "core/language.h"

namespace globeforge {

struct WindowOptions {
    int threads = 0;         // 0: every core
    QString screenshotFile;  // empty: none
    QString settingsFile;    // opened at start when given
    bool help = false;
    std::optional<LanguageChoice> language;  // --lang; else the stored choice
};

// Parses the arguments after the program name. On a mistake returns false with a message
// for the user in error.
bool ParseWindowOptions(const QStringList& args, WindowOptions& options, QString& error);

// The window's language at start: --lang when given, else the choice stored in the
// preferences file; auto follows the locale.
Language StartLanguage(const WindowOptions& options, const QString& preferencesFile);

// The text --help prints.
QString WindowUsage();

}  // namespace globeforge
