// The index of a batch output folder: index.json for programs and index.html, a page that
// shows every planet's thumbnail with its name and seed and links to its maps. The page is
// one file with its style and a few lines of script inline; it loads nothing from the
// network, only the thumbnails beside it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace globeforge {

struct PlanetRecord {
    std::string name;
    std::string status;   // "done", "failed" or "missing"
    std::string message;  // why it failed
    std::string seed;
    std::optional<double> seconds;  // of the render that made it, when known
    std::vector<std::pair<std::string, std::string>> settings;  // every key and value
    std::string settingsFile;  // paths relative to the output folder, '/' between parts
    std::vector<std::pair<std::string, std::string>> maps;  // settings key, path
    std::string thumbnail;                                  // empty when there is none
    std::string model;  // the planet's glTF file; empty when there is none
};

// A JSON string literal: quotes, backslashes and control characters escaped, and <, > and &
// too, so the text is also safe inside a page.
std::string JsonString(std::string_view text);

// Text for HTML content and quoted attribute values: & < > " and ' as references.
std::string HtmlEscape(std::string_view text);

// A relative path as a URL path: every byte but letters, digits, '-', '.', '_', '~' and
// the '/' between parts percent-encoded, so '#', '?', '%' and blanks in names stay names.
std::string UrlPath(std::string_view path);

std::string IndexJson(const std::vector<PlanetRecord>& planets);
std::string IndexHtml(const std::vector<PlanetRecord>& planets);

}  // namespace globeforge
