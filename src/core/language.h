// The language of the texts a user reads: Japanese, the program's own, or English. Both
// programs choose it the same way: an explicit choice wins, else the locale decides.
#pragma once

#include <optional>
#include <string_view>

namespace globeforge {

enum class Language { Japanese, English };

// What the user asked for; Auto follows the locale.
enum class LanguageChoice { Auto, Japanese, English };

// "auto", "ja" or "en" (as on the command line and in the preferences file).
std::optional<LanguageChoice> ParseLanguageChoice(std::string_view name);
std::string_view LanguageChoiceName(LanguageChoice choice);

// The language the locale variables name: the first of LANGUAGE, LC_ALL, LC_MESSAGES and
// LANG that is set and not empty decides (for LANGUAGE its first entry). Japanese for a
// Japanese locale and for none (unset, "C", "POSIX"), so a bare environment shows the
// program's own texts; English for any other language.
Language LanguageFromLocale(const char* language, const char* lcAll, const char* lcMessages,
                            const char* lang);
Language LanguageFromEnvironment();

Language ResolveLanguage(LanguageChoice choice);

// A progress message of the render stages in the given language: the English sentence of a
// known message, else the message unchanged.
std::string_view LocalizedStageMessage(std::string_view message, Language language);

}  // namespace globeforge
