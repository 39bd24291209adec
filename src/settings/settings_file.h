// Settings files: the window's control states as "key value" text lines, one per setting,
// in the settings table's order, written in UTF-8 with CR LF line ends. Loading applies each
// line in turn to a SettingsModel and leaves settings the file does not mention as they were.
// Files are read as UTF-8, or as Shift-JIS when they are not valid UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings_model.h"

namespace globeforge {

// The outcome of a load or save: on failure, a message for the user and, for a bad line,
// its number (1-based; 0 when no line is concerned). A load also says what it read leniently:
// one warning per value it had to change and per line of an unknown key, "NAME line N: ..."
// (at most kMaxSettingsWarnings, then one "and N more").
struct SettingsResult {
    bool ok = true;
    std::string message;
    int line = 0;
    std::vector<std::string> warnings;
};

inline constexpr size_t kMaxSettingsWarnings = 20;

// Value encodings.
bool ParseBool(std::string_view text);               // "true" in any case, blanks around ignored
std::string_view BoolText(bool value);               // "True" / "False"
std::string ColorText(PanelColor color);             // "$" and eight lower-case hex digits
std::string_view MixtureText(MixtureButton button);  // "Add" / "Norm" / "Sub"
std::string_view TransparencyModeText(bool forAlphaBlending);  // "AlphaMap" / "TransparencyMap"
std::string_view HeightDepthText(bool depth16);                // "16" / "8"
std::string SettingsLine(std::string_view key, std::string_view value);  // key + " " + value

// A setting's value as a settings file writes it ("Version" is always this program's).
std::string SettingValueText(const SettingsModel& model, const SettingInfo& info);

// Applies a (trimmed) value as the loader does: text copied; bool by ParseBool; track bars
// and the spin field through SafeStrToInt, limited to their range; a mixture group only for
// "Add", "Norm" or "Sub" (case-sensitive), else unchanged; the output form selects
// forTranspareMappinng only for "TransparencyMap"; the height depth is 16 when the value reads
// as the integer 16 and 8 otherwise. False, with the model unchanged, only for
// a colour value outside the integer syntax (the empty value included).
bool ApplySettingValue(SettingsModel& model, const SettingInfo& info, std::string_view value);

// The text of a settings file holding the model: 47 lines, each ending in CR LF.
std::string SettingsText(const SettingsModel& model);

// Applies one "key value" or "key=value" line. Unknown keys and empty lines change nothing
// and succeed; a bad colour value fails with a message naming the key and the value. A value
// the control had to change, or an unknown key, leaves one warning (without a place).
SettingsResult ApplySettingsLine(SettingsModel& model, std::string_view line);

// Applies every line of a UTF-8 text in order (lines end at CR, LF or CR LF). A bad colour
// value stops there: the lines before it stay applied, and the message names sourceName and
// the line number. The warnings name both too.
SettingsResult ApplySettingsText(SettingsModel& model, std::string_view text,
                                 std::string_view sourceName);

// Reads a settings file and applies it. A file that cannot be read (or is larger than 64 MiB)
// applies nothing and fails with the reason.
SettingsResult LoadSettings(SettingsModel& model, const std::string& fileName);

// Writes the model to a settings file, replacing it only once the new file is complete: on
// failure the old file stays as it was.
SettingsResult SaveSettings(const SettingsModel& model, const std::string& fileName);

}  // namespace globeforge
