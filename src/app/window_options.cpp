#include "app/window_options.h"

#include "settings/preferences.h"

namespace globeforge {

bool ParseWindowOptions(const QStringList& args, WindowOptions& options, QString& error) {
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        const auto takeValue = [&](QString& value) {
            if (i + 1 >= args.size()) {
                error = arg + QStringLiteral(" needs a value");
                return false;
            }
            value = args.at(++i);
            return true;
        };
        if (arg == QStringLiteral("--help") || arg == QStringLiteral("-h")) {
            options.help = true;
        } else if (arg == QStringLiteral("--threads")) {
            QString value;
            if (!takeValue(value)) return false;
            bool ok = false;
            const int n = value.toInt(&ok);
            if (!ok || n < 1 || n > 1024) {
                error = QStringLiteral("--threads needs a whole number from 1 to 1024, not '%1'")
                            .arg(value);
                return false;
            }
            options.threads = n;
        } else if (arg == QStringLiteral("--lang")) {
            QString value;
            if (!takeValue(value)) return false;
            options.language = ParseLanguageChoice(value.toStdString());
            if (!options.language) {
                error = QStringLiteral("--lang needs ja, en or auto, not '%1'").arg(value);
                return false;
            }
        } else if (arg == QStringLiteral("--screenshot")) {
            if (!takeValue(options.screenshotFile)) return false;
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            error = QStringLiteral("unknown option ") + arg;
            return false;
        } else if (options.settingsFile.isEmpty()) {
            options.settingsFile = arg;
        } else {
            error = QStringLiteral("only one settings file, not also '%1'").arg(arg);
            return false;
        }
    }
    return true;
}

Language StartLanguage(const WindowOptions& options, const QString& preferencesFile) {
    return ResolveLanguage(
        options.language.value_or(ReadLanguagePreference(preferencesFile.toStdString())));
}

QString WindowUsage() {
    return QStringLiteral(
        "Usage: globeforge [SETTINGS.ORB] [options]\n"
        "\n"
        "Opens the GlobeForge window, with the settings file when one is given.\n"
        "\n"
        "Options:\n"
        "  --threads N        worker threads of a render (default: every core); the maps\n"
        "                     are the same for any count\n"
        "  --lang ja|en|auto  the window's language (default: the choice in the\n"
        "                     Options menu, at first auto: the locale's language)\n"
        "  --screenshot FILE  save a picture of the window to FILE and quit\n"
        "  --help             this text\n");
}

}  // namespace globeforge
