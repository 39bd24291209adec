#include "cli/batch_table.h"

#include <optional>
#include <set>

#include "render/render_planet.h"
#include "settings/gather_render_params.h"
#include "settings/settings_file.h"
#include "settings/text_encoding.h"
#include "settings/tokenizer.h"
#include "settings/typed_value.h"

namespace globeforge {

namespace {

// A table of a million bad cells must not make a million messages: the first ones are
// listed, the rest counted in a last "and N more".
constexpr size_t kMaxErrors = 20;

class ErrorList {
  public:
    explicit ErrorList(std::vector<std::string>& out) : out_(out) { out_.clear(); }
    ErrorList(const ErrorList&) = delete;
    ErrorList& operator=(const ErrorList&) = delete;
    ~ErrorList() {
        if (hidden_ > 0) out_.push_back(Concat({"and ", std::to_string(hidden_), " more"}));
    }
    void Add(std::string message) {
        if (out_.size() < kMaxErrors) {
            out_.push_back(std::move(message));
        } else {
            ++hidden_;
        }
    }
    bool Empty() const { return out_.empty(); }

  private:
    std::vector<std::string>& out_;
    size_t hidden_ = 0;
};

// Cells are quoted in messages; only their start, with control bytes made visible.
std::string Shown(std::string_view text) {
    constexpr size_t kMaxBytes = 60;
    std::string out;
    for (size_t i = 0; i < text.size() && i < kMaxBytes; ++i) {
        out += static_cast<unsigned char>(text[i]) < 32 || text[i] == 127 ? '?' : text[i];
    }
    if (text.size() > kMaxBytes) out += "...";
    return out;
}

bool HasControlByte(std::string_view text) {
    for (const char ch : text) {
        if (static_cast<unsigned char>(ch) < 32 || ch == 127) return true;
    }
    return false;
}

std::string Where(size_t line, size_t column, std::string_view header) {
    return Concat({"line ", std::to_string(line), ", column ", std::to_string(column), " (",
                   Shown(header), ")"});
}

char AsciiLower(char ch) {
    return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& ch : out) ch = AsciiLower(ch);
    return out;
}

// Splits text into lines ending at CR, LF or CR LF, keeping each line's number.
std::vector<std::pair<size_t, std::string_view>> Lines(std::string_view text) {
    std::vector<std::pair<size_t, std::string_view>> lines;
    size_t number = 0, pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find_first_of("\r\n", pos);
        const size_t lineEnd = end == std::string_view::npos ? text.size() : end;
        lines.emplace_back(++number, text.substr(pos, lineEnd - pos));
        pos = lineEnd;
        if (pos < text.size() && text[pos++] == '\r' && pos < text.size() && text[pos] == '\n') {
            ++pos;
        }
    }
    return lines;
}

std::vector<std::string_view> Cells(std::string_view line) {
    std::vector<std::string_view> cells;
    size_t pos = 0;
    while (true) {
        const size_t tab = line.find('\t', pos);
        cells.push_back(
            TrimBlanks(line.substr(pos, tab == std::string_view::npos ? tab : tab - pos)));
        if (tab == std::string_view::npos) break;
        pos = tab + 1;
    }
    return cells;
}

// A map name must name a file inside the planet's folder.
std::string CheckMapName(std::string_view name) {
    if (HasControlByte(name)) return "holds a control character";
    if (name.front() == '/' || name.find('\\') != std::string_view::npos) {
        return "must be a relative name inside the planet's folder";
    }
    size_t pos = 0;
    while (pos <= name.size()) {
        size_t slash = name.find('/', pos);
        if (slash == std::string_view::npos) slash = name.size();
        const std::string_view part = name.substr(pos, slash - pos);
        if (part == ".." || part == "." || part.empty()) {
            return "must be a plain relative name (no '..', '.' or empty folder names)";
        }
        pos = slash + 1;
    }
    if (name.size() > kMaxBatchCellBytes) return "is too long";
    return {};
}

}  // namespace

std::string CheckPlanetName(std::string_view name) {
    if (name.empty()) return "the name is empty";
    if (name.size() > kMaxPlanetNameBytes) {
        return Concat({"the name is longer than ", std::to_string(kMaxPlanetNameBytes), " bytes"});
    }
    if (HasControlByte(name)) return "the name holds a control character";
    if (name.find('/') != std::string_view::npos || name.find('\\') != std::string_view::npos) {
        return "the name holds a slash; it must be a folder name";
    }
    if (name.find("..") != std::string_view::npos) return "the name holds '..'";
    if (name.front() == '.') return "the name starts with a dot";
    if (IsBlank(name.front()) || IsBlank(name.back()))
        return "the name starts or ends with a blank";
    if (!IsValidUtf8(name)) return "the name is not valid UTF-8";
    const std::string lower = AsciiLower(name);
    for (const std::string_view reserved :
         {kBatchIndexJson, kBatchIndexHtml, kBatchThumbnailFolder}) {
        if (lower == reserved) return Concat({"the name '", reserved, "' is kept for the index"});
    }
    return {};
}

bool ReadBatchTable(std::string_view bytes, BatchTable& table, std::vector<std::string>& errors) {
    table = {};
    ErrorList problems(errors);
    const std::string text = DecodeTextFileBytes(bytes);
    const auto lines = Lines(text);
    size_t first = 0;
    while (first < lines.size() && lines[first].second.empty()) ++first;
    if (first == lines.size()) {
        problems.Add("the table is empty: it needs a header row with a 'name' column");
        return false;
    }

    // The header: `name` once, every other column a settings key, each once.
    const size_t headerLine = lines[first].first;
    const std::vector<std::string_view> header = Cells(lines[first].second);
    size_t nameColumn = header.size();
    std::vector<const SettingInfo*> columns(header.size(), nullptr);
    std::set<std::string_view> seen;
    for (size_t c = 0; c < header.size(); ++c) {
        const std::string_view key = header[c];
        const std::string where = Where(headerLine, c + 1, key);
        if (!seen.insert(key).second) {
            problems.Add(where + ": the column appears twice");
            continue;
        }
        if (key == "name") {
            nameColumn = c;
        } else if (const SettingInfo* info = FindSetting(key); info != nullptr) {
            columns[c] = info;
        } else if (key.empty()) {
            problems.Add(where + ": the header cell is empty");
        } else {
            problems.Add(where + ": not a settings key (keys are case-sensitive)");
        }
    }
    if (nameColumn == header.size()) {
        problems.Add(
            Concat({"line ", std::to_string(headerLine), ": the header has no 'name' column"}));
    }
    if (!problems.Empty()) return false;
    for (const SettingInfo* info : columns) {
        if (info) table.keys.emplace_back(info->key);
    }

    for (size_t l = first + 1; l < lines.size(); ++l) {
        const auto& [number, line] = lines[l];
        if (line.empty()) continue;
        if (table.rows.size() == kMaxBatchRows) {
            problems.Add(Concat({"line ", std::to_string(number), ": more than ",
                                 std::to_string(kMaxBatchRows), " planets"}));
            break;
        }
        const std::vector<std::string_view> cells = Cells(line);
        if (cells.size() > header.size()) {
            problems.Add(
                Concat({"line ", std::to_string(number), ": ", std::to_string(cells.size()),
                        " cells, but the header has ", std::to_string(header.size()), " columns"}));
            continue;
        }
        BatchRow row;
        row.line = number;
        for (size_t c = 0; c < cells.size(); ++c) {
            const std::string_view cell = cells[c];
            if (cell.size() > kMaxBatchCellBytes) {
                problems.Add(Where(number, c + 1, header[c]) + ": the cell is longer than " +
                             std::to_string(kMaxBatchCellBytes) + " bytes");
                continue;
            }
            if (HasControlByte(cell)) {
                problems.Add(Where(number, c + 1, header[c]) +
                             ": the cell holds a control character");
                continue;
            }
            if (c == nameColumn) {
                row.name = cell;
            } else if (!cell.empty()) {
                row.cells.emplace_back(std::string(columns[c]->key), std::string(cell));
            }
        }
        table.rows.push_back(std::move(row));
    }
    if (problems.Empty() && table.rows.empty()) {
        problems.Add("the table has a header but no planets");
    }
    return problems.Empty();
}

bool SeedRangeTable(std::string_view range, BatchTable& table, std::string& error) {
    table = {};
    const size_t dots = range.find("..");
    if (dots == std::string_view::npos) {
        error = Concat({"--seeds needs A..B with whole numbers A <= B, not '", Shown(range), "'"});
        return false;
    }
    // Each end is a seed as --set RandomSeed would take it.
    int64_t ends[2] = {0, 0};
    const std::string_view texts[2] = {range.substr(0, dots), range.substr(dots + 2)};
    for (size_t i = 0; i < 2; ++i) {
        if (std::optional<std::string> problem = CheckTypedValue("RandomSeed", texts[i])) {
            error = Concat({"--seeds ", Shown(range), ": ", *problem});
            return false;
        }
        ends[i] = SafeStrToInt(TrimBlanks(texts[i]));
    }
    const int64_t a = ends[0], b = ends[1];
    if (b < a) {
        error = Concat({"--seeds ", Shown(range), ": the first seed is larger than the last"});
        return false;
    }
    if (b - a >= static_cast<int64_t>(kMaxBatchRows)) {
        error = Concat({"--seeds: more than ", std::to_string(kMaxBatchRows), " planets"});
        return false;
    }
    table.keys = {"RandomSeed"};
    for (int64_t seed = a; seed <= b; ++seed) {
        BatchRow row;
        row.line = static_cast<size_t>(seed - a + 2);
        row.name = "seed-" + std::to_string(seed);
        row.cells.emplace_back("RandomSeed", std::to_string(seed));
        table.rows.push_back(std::move(row));
    }
    return true;
}

std::string PlanetSettingsFileName(std::string_view name) {
    return Concat({name, ".ORB"});
}

std::vector<std::pair<std::string, std::string>> PlanetMaps(const SettingsModel& settings) {
    std::vector<std::pair<std::string, std::string>> maps;
    for (const MapSlot& slot : kMapSlots) {
        const std::string_view name = TrimBlanks(MapNameSetting(settings, slot));
        if (!name.empty()) maps.emplace_back(slot.settingsKey, name);
    }
    return maps;
}

bool CheckBatchTable(const SettingsModel& base, const BatchTable& table,
                     std::vector<BatchPlanet>& planets, std::vector<std::string>& errors) {
    planets.clear();
    ErrorList problems(errors);
    std::set<std::string> names;
    std::vector<BatchPlanet> checked;
    checked.reserve(table.rows.size());
    for (size_t r = 0; r < table.rows.size(); ++r) {
        const BatchRow& row = table.rows[r];
        const std::string rowText = Concat({"line ", std::to_string(row.line)});
        const std::string where = Concat({rowText, ", column name"});
        if (std::string why = CheckPlanetName(row.name); !why.empty()) {
            problems.Add(Concat({where, ": ", why, " ('", Shown(row.name), "')"}));
        } else if (!names.insert(AsciiLower(row.name)).second) {
            problems.Add(
                Concat({where, ": the name '", row.name, "' is used twice (letter case aside)"}));
        }

        BatchPlanet planet;
        planet.index = r;
        planet.name = row.name;
        planet.settings = base;
        bool rowOk = true;
        for (const auto& [key, value] : row.cells) {
            if (std::optional<std::string> problem = CheckTypedValue(key, value)) {
                problems.Add(Concat({rowText, ", column ", key, ": ", *problem}));
                rowOk = false;
                continue;
            }
            const SettingsResult applied =
                ApplySettingsLine(planet.settings, SettingsLine(key, value));
            if (!applied.ok) {
                problems.Add(Concat({rowText, ", column ", key, ": ", applied.message}));
                rowOk = false;
            }
        }
        if (!rowOk) continue;

        // The render size and the map names, whether they came from the row or the base.
        const auto from = [&](std::string_view key) {
            for (const auto& cell : row.cells) {
                if (cell.first == key) return Concat({rowText, ", column ", key});
            }
            return Concat({rowText, " (", key, " of the settings file)"});
        };
        const RenderParams params = GatherRenderParams(planet.settings);
        if (std::string why = CheckRenderSize(params); !why.empty()) {
            problems.Add(Concat({from("OutputResolutionX"), ": ", why}));
        }
        std::set<std::string> files{AsciiLower(PlanetSettingsFileName(row.name))};
        for (const MapSlot& slot : kMapSlots) {
            const std::string_view key = slot.settingsKey;
            const std::string_view name = TrimBlanks(MapNameSetting(planet.settings, slot));
            if (name.empty()) continue;
            if (std::string why = CheckMapName(name); !why.empty()) {
                problems.Add(Concat({from(key), ": the map name '", Shown(name), "' ", why}));
            } else if (!files.insert(AsciiLower(name)).second) {
                problems.Add(Concat(
                    {from(key), ": the map name '", Shown(name), "' is used twice in one planet"}));
            }
        }
        checked.push_back(std::move(planet));
    }
    if (!problems.Empty()) return false;
    planets = std::move(checked);
    return true;
}

}  // namespace globeforge
