// The preferences file: the settings that outlive a run, the JPEG quality, kept as
// "JPEGQuality" in section "Orbgen" of a small INI file, and the window's own choices (its
// language, live preview, recent settings files) in section "GlobeForge". The file lies beside
// the program
// when it can be written there, else in the user's configuration folder.
#pragma once

#include <string>
#include <vector>

#include "core/language.h"
#include "settings/settings_file.h"

namespace globeforge {

inline constexpr int kDefaultJpegQuality = 90;

// The stored quality, unchanged (the caller keeps its low eight bits); 90 when the file, the
// section or the key is missing or unreadable, or the value is not an integer.
int ReadJpegQualityPreference(const std::string& path);

// Stores the quality, keeping every other section, key and comment of the file, creating
// the file and its folder as needed and replacing the file only once it is complete.
SettingsResult WriteJpegQualityPreference(const std::string& path, int quality);

// The stored language choice; Auto when the file, the section or the key is missing or
// the value is not "auto", "ja" or "en".
LanguageChoice ReadLanguagePreference(const std::string& path);

// Stores the choice the same way as the quality, touching no other key.
SettingsResult WriteLanguagePreference(const std::string& path, LanguageChoice choice);

// Whether the window previews every change by itself; true unless the stored value is "0".
bool ReadLivePreviewPreference(const std::string& path);
SettingsResult WriteLivePreviewPreference(const std::string& path, bool on);

// The settings files last opened or saved, the newest first, at most kMaxRecentFiles of them
// (keys RecentFile1 to RecentFile8; empty values are unused places).
inline constexpr size_t kMaxRecentFiles = 8;
std::vector<std::string> ReadRecentFilesPreference(const std::string& path);
// Stores the first kMaxRecentFiles names, emptying the places after them.
SettingsResult WriteRecentFilesPreference(const std::string& path,
                                          const std::vector<std::string>& names);

// The preferences file for a program file: beside it (the program's name with a short
// extension replaced by ".INI") when that file exists and may be written; otherwise
// "globeforge/globeforge.INI" in $XDG_CONFIG_HOME, or in ~/.config when that is not set.
std::string PreferencesFilePath(const std::string& programPath);

// The running program's own file (from /proc/self/exe); empty when unknown.
std::string CurrentProgramPath();

}  // namespace globeforge
