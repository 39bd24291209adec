// Values typed by a user (a --set override, a batch cell, a seed range) must be values of
// their key: a typo there would otherwise render a different planet without a word. Settings
// files stay lenient, as the loader has always read them, and only say what they changed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "settings/settings_model.h"

namespace globeforge {

// Why value is not a value of key, for a message after "where: ": "'banana' is not a whole
// number from 0 to 100". Nullopt when the value is fine. Integer keys take a whole number
// within their control's range (track bars, the oversampling field; sizes from 1, crater
// count and radius from 0, the seed any number the integer syntax reads), booleans True or
// False (any letter case), modes one of their words (case-sensitive, as the loader compares),
// colours the integer syntax, text keys anything. A value is taken trimmed, as the loader
// takes it.
std::optional<std::string> CheckTypedValue(std::string_view key, std::string_view value);

// What loading value into a settings model's control used instead, for a lenient file:
// "CoastLevel 400 is out of range, 100 used". Nullopt when the control took the value as
// written (or keeps its text, to be read when a render starts, as an out-of-range size does).
// applied is the model after the value was applied; a bad colour is the loader's error and
// has no note.
std::optional<std::string> LoadedValueNote(const SettingsModel& applied, const SettingInfo& info,
                                           std::string_view value);

// A value as messages quote it: its start only (a value may be a megabyte of junk), cut on a
// character boundary, with control characters made visible.
std::string ValueExcerpt(std::string_view text);

}  // namespace globeforge
