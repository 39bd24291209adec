// The window's language: the English translation installed into the application, or none
// for the program's own Japanese texts.
#pragma once

#include <QString>

#include "core/language.h"

namespace globeforge {

// Installs the translation of a language (removing any other); false when the embedded
// translation cannot be loaded, in which case the window stays Japanese. Takes effect for
// widgets created afterwards.
bool UseLanguage(Language language);

// The language UseLanguage last installed; Japanese at start.
Language ActiveLanguage();

// The window's notice that a new language choice applies from the next start, in both
// languages since the reader may know either.
QString LanguageRestartNotice();

}  // namespace globeforge
