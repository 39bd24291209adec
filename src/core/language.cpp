#include "core/language.h"

#include <array>
#include <cstddef>
#include <cstdlib>

#include "core/stage_names.h"

namespace globeforge {

namespace {

// The names of the choices, in the order of LanguageChoice.
constexpr std::array<std::string_view, 3> kChoiceNames = {"auto", "ja", "en"};

}  // namespace

std::optional<LanguageChoice> ParseLanguageChoice(std::string_view name) {
    for (size_t i = 0; i < kChoiceNames.size(); ++i) {
        if (name == kChoiceNames[i]) return static_cast<LanguageChoice>(i);
    }
    return std::nullopt;
}

std::string_view LanguageChoiceName(LanguageChoice choice) {
    return kChoiceNames[static_cast<size_t>(choice)];
}

Language LanguageFromLocale(const char* language, const char* lcAll, const char* lcMessages,
                            const char* lang) {
    std::string_view name;
    for (const char* value : {language, lcAll, lcMessages, lang}) {
        if (value != nullptr && value[0] != '\0') {
            name = value;
            break;
        }
    }
    name = name.substr(0, name.find(':'));  // LANGUAGE lists languages by preference
    const std::string_view code = name.substr(0, name.find_first_of("_.@"));
    if (code.empty() || code == "ja" || code == "C" || code == "POSIX") return Language::Japanese;
    return Language::English;
}

Language LanguageFromEnvironment() {
    return LanguageFromLocale(std::getenv("LANGUAGE"), std::getenv("LC_ALL"),
                              std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

Language ResolveLanguage(LanguageChoice choice) {
    switch (choice) {
        case LanguageChoice::Japanese:
            return Language::Japanese;
        case LanguageChoice::English:
            return Language::English;
        case LanguageChoice::Auto:
            break;
    }
    return LanguageFromEnvironment();
}

std::string_view LocalizedStageMessage(std::string_view message, Language language) {
    if (language == Language::Japanese) return message;
    const StageName* name = FindStageName(message);
    return name ? name->english : message;
}

}  // namespace globeforge
