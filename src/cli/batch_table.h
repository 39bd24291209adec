// The planet table of a batch render: tab-separated text, a header row naming a `name`
// column and any settings keys, then one planet per row. Every row becomes the base settings
// with its non-empty cells applied as settings lines, and the whole table is checked before
// anything renders, so a bad cell costs nothing but a message naming it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "settings/settings_model.h"

namespace globeforge {

// Limits that keep a hostile table cheap to refuse: no real table comes near them.
inline constexpr size_t kMaxPlanetNameBytes = 100;
inline constexpr size_t kMaxBatchCellBytes = 4096;
inline constexpr size_t kMaxBatchRows = 1000000;

struct BatchRow {
    size_t line = 0;  // 1-based line of the table file (the header is line 1)
    std::string name;
    std::vector<std::pair<std::string, std::string>> cells;  // key, value; empty cells left out
};

struct BatchTable {
    std::vector<std::string> keys;  // the settings keys of the header, in column order
    std::vector<BatchRow> rows;
};

// Reads a table from the bytes of a file (UTF-8, or Shift-JIS as settings files are).
// Lines end at CR, LF or CR LF; empty lines are skipped. The header must hold `name` once and
// otherwise known settings keys, each once; a row may have fewer cells than the header (the
// missing ones are empty) but not more. Cells lose blanks at both ends, as a settings value
// does. On failure, errors receives one message per problem found, each naming the line
// and column.
bool ReadBatchTable(std::string_view bytes, BatchTable& table, std::vector<std::string>& errors);

// "A..B": the table of seeds A to B (at most kMaxBatchRows of them), rows named seed-A ...
bool SeedRangeTable(std::string_view range, BatchTable& table, std::string& error);

// Empty when name can be a folder directly inside the output folder, else why not: not
// empty, at most kMaxPlanetNameBytes, no control bytes, no slash or backslash, no "..",
// not starting with a dot or a blank nor ending with a blank, valid UTF-8, and not one of
// the names the batch keeps for itself.
std::string CheckPlanetName(std::string_view name);

// The names inside the output folder that the batch writes itself.
inline constexpr std::string_view kBatchIndexJson = "index.json";
inline constexpr std::string_view kBatchIndexHtml = "index.html";
inline constexpr std::string_view kBatchThumbnailFolder = "thumbnails";
inline constexpr std::string_view kBatchStateFolder = ".batch";

// One checked planet: its settings and where it goes.
struct BatchPlanet {
    size_t index = 0;  // 0-based row of the table (the one --shard counts)
    std::string name;
    SettingsModel settings;
};

// Applies every row to a copy of base and checks the result: cell values as typed values of
// their keys (CheckTypedValue: a whole number within the control's range, True or False, a
// mode's word, a colour), a render size this machine can render, and map names that stay inside
// the planet's folder (relative, no "..", no control bytes, no two maps in one file, none
// named like the planet's settings file). Names must be unique, also ignoring ASCII case
// (folders of case-insensitive file systems). All problems are collected (the first 20, then
// "and N more"); planets is filled only when there are none.
bool CheckBatchTable(const SettingsModel& base, const BatchTable& table,
                     std::vector<BatchPlanet>& planets, std::vector<std::string>& errors);

// The file name of a planet's settings file inside its folder.
std::string PlanetSettingsFileName(std::string_view name);

// The maps a model names: settings key and trimmed name, in the order the maps are written.
std::vector<std::pair<std::string, std::string>> PlanetMaps(const SettingsModel& settings);

}  // namespace globeforge
