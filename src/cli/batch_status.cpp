#include "cli/batch_status.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "settings/text_file_io.h"

namespace fs = std::filesystem;

namespace globeforge {

namespace {

fs::path StatusPath(const std::string& outDir, const BatchPlanet& planet) {
    return fs::path(outDir) / kBatchStateFolder / StatusFileName(planet);
}

}  // namespace

std::string StatusFileName(const BatchPlanet& planet) {
    return planet.name + ".status";
}

void WriteStatus(const std::string& outDir, const BatchPlanet& planet, const PlanetStatus& s) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", s.seconds.value_or(0));
    std::string message = s.message;
    std::replace_if(
        message.begin(), message.end(), [](char ch) { return ch == '\n' || ch == '\r'; }, ' ');
    settings_io::ReplaceFileAtomically(StatusPath(outDir, planet).string(),
                                       s.status + "\n" + seconds + "\n" + message + "\n");
}

PlanetStatus ReadStatus(const std::string& outDir, const BatchPlanet& planet) {
    const settings_io::ReadResult file =
        settings_io::ReadFileBytes(StatusPath(outDir, planet).string(), 64 * 1024);
    PlanetStatus s;
    if (!file.ok) return s;
    std::vector<std::string> lines(3);
    size_t line = 0;
    for (const char ch : file.bytes) {
        if (ch == '\n') {
            if (++line == lines.size()) break;
        } else {
            lines[line] += ch;
        }
    }
    if (lines[0] != "done" && lines[0] != "failed") return s;
    s.status = lines[0];
    char* end = nullptr;
    const double seconds = std::strtod(lines[1].c_str(), &end);
    if (end != lines[1].c_str()) s.seconds = seconds;
    s.message = lines[2];
    return s;
}

void RemoveStatus(const std::string& outDir, const BatchPlanet& planet) {
    std::error_code ec;
    fs::remove(StatusPath(outDir, planet), ec);
}

}  // namespace globeforge
