#include "app/app_language.h"

#include <QCoreApplication>
#include <QTranslator>

namespace globeforge {

namespace {

Language active = Language::Japanese;

QTranslator& EnglishTranslator() {
    static QTranslator translator;
    return translator;
}

}  // namespace

bool UseLanguage(Language language) {
    QTranslator& english = EnglishTranslator();
    QCoreApplication::removeTranslator(&english);
    active = Language::Japanese;
    if (language == Language::Japanese) return true;
    if (english.isEmpty() && !english.load(QStringLiteral(":/i18n/globeforge_en.qm"))) return false;
    if (!QCoreApplication::installTranslator(&english)) return false;
    active = language;
    return true;
}

Language ActiveLanguage() {
    return active;
}

QString LanguageRestartNotice() {
    return QStringLiteral(
        "言語の設定は次回の起動から有効になります。\n"
        "The language changes the next time GlobeForge starts.");
}

}  // namespace globeforge
