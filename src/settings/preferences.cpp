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

}  // namespace

int ReadJpegQualityPreference(const std::string& path) {
    const settings_io::ReadResult file = settings_io::ReadFileBytes(path);
    if (!file.ok) return kDefaultJpegQuality;
    const IniFile ini = IniFile::Parse(DecodeTextFileBytes(file.bytes));
    const std::optional<std::string> value = ini.GetValue(kSection, kJpegQualityKey);
    if (!value) return kDefaultJpegQuality;
    return ParseInteger(*value).value_or(kDefaultJpegQuality);
}

SettingsResult WriteJpegQualityPreference(const std::string& path, int quality) {
    namespace fs = std::filesystem;
    const auto failure = [&](const std::string& reason) {
        return SettingsResult{false, Concat({"Cannot write preferences file ", path, ": ", reason}),
                              0};
    };

    IniFile ini;
    const settings_io::ReadResult file = settings_io::ReadFileBytes(path);
    if (file.ok) {
        ini = IniFile::Parse(DecodeTextFileBytes(file.bytes));
    } else if (file.errorNumber != ENOENT) {
        // Writing now would throw away whatever the unreadable file holds.
        return failure(file.error);
    }
    ini.SetValue(kSection, kJpegQualityKey, std::to_string(quality));

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
