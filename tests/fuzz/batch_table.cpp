// Arbitrary bytes as a batch planet table: reading and checking never crash, a refusal
// always says why, and a table that passes names only planet folders and map files that
// stay inside the output folder, whose names the index escapes for JSON and the page.
#include "cli/batch_table.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "cli/batch_index.h"
#include "fuzz/fuzz_check.h"
#include "settings/settings_file.h"

using namespace globeforge;
namespace fs = std::filesystem;

namespace {

// Inside: lexically below root, without a ".." step anywhere.
bool Inside(const fs::path& root, const fs::path& path) {
    for (const fs::path& part : path) {
        if (part == "..") return false;
    }
    const std::string normal = path.lexically_normal().string();
    return normal.size() > root.string().size() + 1 && normal.rfind(root.string() + "/", 0) == 0;
}

std::string PercentDecoded(std::string_view url) {
    std::string out;
    for (size_t i = 0; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size()) {
            out += static_cast<char>(std::stoi(std::string(url.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += url[i];
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    BatchTable table;
    std::vector<std::string> errors;
    const bool read = ReadBatchTable(bytes, table, errors);
    FUZZ_CHECK(read == errors.empty());
    FUZZ_CHECK(errors.size() <= 21);  // the first 20 problems, then "and N more"
    std::string seedError;
    if (!SeedRangeTable(bytes.substr(0, 64), table, seedError)) FUZZ_CHECK(!seedError.empty());
    if (!read) return 0;
    FUZZ_CHECK(ReadBatchTable(bytes, table, errors));

    SettingsModel base;
    base.ResX = "8";
    base.ResY = "4";
    base.ColorName = "color.png";
    std::vector<BatchPlanet> planets;
    const bool checked = CheckBatchTable(base, table, planets, errors);
    FUZZ_CHECK(checked == errors.empty());
    FUZZ_CHECK(errors.size() <= 21);
    // A cell the typed check passed is one a settings file takes as written, without a warning.
    for (size_t r = 0; checked && r < table.rows.size(); ++r) {
        std::string lines;
        for (const auto& [key, value] : table.rows[r].cells)
            lines += SettingsLine(key, value) + "\n";
        SettingsModel model = base;
        FUZZ_CHECK(ApplySettingsText(model, lines, "row").warnings.empty());
    }
    FUZZ_CHECK(checked == (planets.size() == table.rows.size()));

    const fs::path root = "/out";
    std::vector<PlanetRecord> records;
    for (const BatchPlanet& planet : planets) {
        FUZZ_CHECK(CheckPlanetName(planet.name).empty());
        FUZZ_CHECK(Inside(root, root / planet.name));
        FUZZ_CHECK(fs::path(planet.name).filename() == fs::path(planet.name));
        for (const auto& [key, name] : PlanetMaps(planet.settings)) {
            FUZZ_CHECK(Inside(root / planet.name, root / planet.name / name));
        }
        PlanetRecord record;
        record.name = planet.name;
        record.seed = planet.settings.Seed;
        record.maps = PlanetMaps(planet.settings);
        record.status = "done";
        records.push_back(std::move(record));
    }
    if (records.size() > 64) return 0;  // the page of a long table says nothing new
    for (const PlanetRecord& record : records) {
        const std::string json = JsonString(record.name);
        const std::string html = HtmlEscape(record.name);
        for (const char ch : json) FUZZ_CHECK(static_cast<unsigned char>(ch) >= 0x20 && ch != '<');
        FUZZ_CHECK(html.find_first_of("<>\"'") == std::string::npos);
        const std::string url = UrlPath(record.name);
        FUZZ_CHECK(url.find_first_of("#?/ \"<>&'") == std::string::npos);
        FUZZ_CHECK(PercentDecoded(url) == record.name);
    }
    (void)IndexJson(records);
    (void)IndexHtml(records);
    return 0;
}
