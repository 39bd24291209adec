#include "settings/preferences.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "settings/ini_file.h"
#include "settings/text_encoding.h"
#include "settings/text_file_io.h"
#include "settings/tokenizer.h"

namespace globeforge {

namespace {

constexpr const char* kSection = "Orbgen";
constexpr const char* kJpegQualityKey = "JPEGQuality";
// The window's own choices have a section of their own, so "Orbgen" keeps exactly its one key.
constexpr const char* kOwnSection = "GlobeForge";
constexpr const char* kLanguageKey = "Language";
constexpr const char* kLivePreviewKey = "LivePreview";

std::string RecentFileKey(size_t index) {
    return "RecentFile" + std::to_string(index + 1);
}

using KeyValues = std::vector<std::pair<std::string, std::string>>;

// The preferences as a document; empty when the file cannot be read.
IniFile ReadPreferences(const std::string& path) {
    const settings_io::ReadResult file = settings_io::ReadFileBytes(path);
    return file.ok ? IniFile::Parse(DecodeTextFileBytes(file.bytes)) : IniFile();
}

std::optional<std::string> ReadPreference(const std::string& path, const char* section,
                                          const char* key) {
    return ReadPreferences(path).GetValue(section, key);
}

// Sets every key of values in section, writing the file once.
SettingsResult WritePreferences(const std::string& path, const char* section,
                                const KeyValues& values) {
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
    for (const auto& [key, value] : values) ini.SetValue(section, key, value);

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

SettingsResult WritePreference(const std::string& path, const char* section, const char* key,
                               const std::string& value) {
    return WritePreferences(path, section, {{key, value}});
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
    const std::optional<std::string> value = ReadPreference(path, kOwnSection, kLanguageKey);
    if (!value) return LanguageChoice::Auto;
    return ParseLanguageChoice(*value).value_or(LanguageChoice::Auto);
}

SettingsResult WriteLanguagePreference(const std::string& path, LanguageChoice choice) {
    return WritePreference(path, kOwnSection, kLanguageKey,
                           std::string(LanguageChoiceName(choice)));
}

bool ReadLivePreviewPreference(const std::string& path) {
    return ReadPreference(path, kOwnSection, kLivePreviewKey).value_or("1") != "0";
}

SettingsResult WriteLivePreviewPreference(const std::string& path, bool on) {
    return WritePreference(path, kOwnSection, kLivePreviewKey, on ? "1" : "0");
}

std::vector<std::string> ReadRecentFilesPreference(const std::string& path) {
    const IniFile ini = ReadPreferences(path);
    std::vector<std::string> names;
    for (size_t i = 0; i < kMaxRecentFiles; ++i) {
        std::optional<std::string> name = ini.GetValue(kOwnSection, RecentFileKey(i));
        if (name && !name->empty()) names.push_back(std::move(*name));
    }
    return names;
}

SettingsResult WriteRecentFilesPreference(const std::string& path,
                                          const std::vector<std::string>& names) {
    KeyValues values;
    for (size_t i = 0; i < kMaxRecentFiles; ++i)
        values.emplace_back(RecentFileKey(i), i < names.size() ? names[i] : std::string());
    return WritePreferences(path, kOwnSection, values);
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
