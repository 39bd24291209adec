#include "settings/preferences.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "settings/ini_file.h"
#include "settings/text_encoding.h"
#include "settings/text_file_io.h"
#include "settings/tokenizer.h"

namespace globeforge {

namespace {

constexpr const char* kSection = "Orbgen";
constexpr const char* kJpegQualityKey = "JPEGQuality";
// The language choice has a section of its own, so "Orbgen" keeps exactly its one key.
constexpr const char* kLanguageSection = "GlobeForge";
constexpr const char* kLanguageKey = "Language";

std::optional<std::string> ReadPreference(const std::string& path, const char* section,
                                          const char* key) {
    const settings_io::ReadResult file = settings_io::ReadFileBytes(path);
    if (!file.ok) return std::nullopt;
    return IniFile::Parse(DecodeTextFileBytes(file.bytes)).GetValue(section, key);
}

SettingsResult WritePreference(const std::string& path, const char* section, const char* key,
                               const std::string& value) {
    namespace fs = std::filesystem;
    const auto failure = [&](const std::string& reason) {
        return SettingsResult{
            false, Concat({"Cannot write preferences file ", path, ": ", reason}), 0, {}};
    };

    IniFile ini;
    const settings_io::ReadResult file = settings_io::ReadFileBytes(path);
    if (file.ok) {
        ini = IniFile::Parse(DecodeTextFileBytes(file.bytes));
    } else if (file.errorNumber != ENOENT) {
        // Writing now would throw away whatever the unreadable file holds.
        return failure(file.error);
    }
    ini.SetValue(section, key, value);

    const fs::path parent = fs::path(path).parent_path();
    if (!parent.empty()) {
        std::error_code ec;
        fs::create_directories(parent, ec);
        if (ec) return failure(ec.message());
    }
    const std::string error = settings_io::ReplaceFileAtomically(path, ini.Text());
    if (!error.empty()) return failure(error);
    return {};
}

}  // namespace

int ReadJpegQualityPreference(const std::string& path) {
    const std::optional<std::string> value = ReadPreference(path, kSection, kJpegQualityKey);
    if (!value) return kDefaultJpegQuality;
    return ParseInteger(*value).value_or(kDefaultJpegQuality);
}

SettingsResult WriteJpegQualityPreference(const std::string& path, int quality) {
    return WritePreference(path, kSection, kJpegQualityKey, std::to_string(quality));
}

LanguageChoice ReadLanguagePreference(const std::string& path) {
    const std::optional<std::string> value = ReadPreference(path, kLanguageSection, kLanguageKey);
    if (!value) return LanguageChoice::Auto;
    return ParseLanguageChoice(*value).value_or(LanguageChoice::Auto);
}

SettingsResult WriteLanguagePreference(const std::string& path, LanguageChoice choice) {
    return WritePreference(path, kLanguageSection, kLanguageKey,
                           std::string(LanguageChoiceName(choice)));
}

std::string PreferencesFilePath(const std::string& programPath) {
    const std::string beside = StripExtension(programPath) + ".INI";
    if (::access(beside.c_str(), W_OK) == 0) return beside;

    std::string configHome;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        configHome = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        configHome = std::string(home) + "/.config";
    } else {
        return beside;  // no home to fall back on
    }
    return configHome + "/globeforge/globeforge.INI";
}

std::string CurrentProgramPath() {
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

}  // namespace globeforge
