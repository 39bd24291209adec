#include "cli/batch_index.h"

#include <cstdio>

#include "core/version.h"

namespace globeforge {

namespace {

std::string Seconds(double seconds) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", seconds);
    return buffer;
}

// The label of a map link: the settings key without "Output" and "Map", in words.
std::string MapLabel(std::string_view key) {
    if (key.rfind("Output", 0) == 0) key.remove_prefix(6);
    if (key.size() > 3 && key.substr(key.size() - 3) == "Map") key.remove_suffix(3);
    if (key == "Speculer") return "specular";
    std::string label;
    for (const char ch : key) {
        if (ch >= 'A' && ch <= 'Z') {
            if (!label.empty()) label += ' ';
            label += static_cast<char>(ch - 'A' + 'a');
        } else {
            label += ch;
        }
    }
    return label;
}

void JsonPairs(std::string& out, const std::vector<std::pair<std::string, std::string>>& pairs,
               std::string_view indent) {
    out += "{";
    for (size_t i = 0; i < pairs.size(); ++i) {
        out += i ? ",\n" : "\n";
        out.append(indent).append("  ").append(JsonString(pairs[i].first)).append(": ");
        out += JsonString(pairs[i].second);
    }
    if (!pairs.empty()) out.append("\n").append(indent);
    out += "}";
}

}  // namespace

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        switch (ch) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || ch == '<' || ch == '>' || ch == '&') {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", byte);
                    out += buffer;
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += ch;
        }
    }
    return out;
}

std::string UrlPath(std::string_view path) {
    std::string out;
    for (const char ch : path) {
        const bool plain = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                           (ch >= '0' && ch <= '9') || ch == '-' || ch == '.' || ch == '_' ||
                           ch == '~' || ch == '/';
        if (plain) {
            out += ch;
        } else {
            char buffer[4];
            std::snprintf(buffer, sizeof buffer, "%%%02X", static_cast<unsigned char>(ch));
            out += buffer;
        }
    }
    return out;
}

std::string IndexJson(const std::vector<PlanetRecord>& planets) {
    std::string out =
        "{\n  \"generator\": " + JsonString(std::string("GlobeForge ") + kVersionText) +
        ",\n  \"planets\": [";
    for (size_t i = 0; i < planets.size(); ++i) {
        const PlanetRecord& p = planets[i];
        out += i ? ",\n    {\n" : "\n    {\n";
        out += "      \"name\": " + JsonString(p.name) + ",\n";
        out += "      \"status\": " + JsonString(p.status) + ",\n";
        if (!p.message.empty()) out += "      \"message\": " + JsonString(p.message) + ",\n";
        out += "      \"seed\": " + JsonString(p.seed) + ",\n";
        out += "      \"seconds\": " + (p.seconds ? Seconds(*p.seconds) : "null") + ",\n";
        out += "      \"settings_file\": " + JsonString(p.settingsFile) + ",\n";
        out += "      \"maps\": ";
        JsonPairs(out, p.maps, "      ");
        out +=
            ",\n      \"thumbnail\": " + (p.thumbnail.empty() ? "null" : JsonString(p.thumbnail));
        out += ",\n      \"model\": " + (p.model.empty() ? "null" : JsonString(p.model));
        out += ",\n      \"settings\": ";
        JsonPairs(out, p.settings, "      ");
        out += "\n    }";
    }
    out += planets.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

std::string IndexHtml(const std::vector<PlanetRecord>& planets) {
    size_t done = 0;
    for (const PlanetRecord& p : planets) done += p.status == "done";
    std::string out = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>GlobeForge planets</title>
<style>
body { background: #16181d; color: #e4e6eb; font: 14px/1.4 sans-serif; margin: 1.5em; }
h1 { font-size: 1.4em; margin: 0 0 .3em; }
button { font: inherit; padding: .3em .8em; margin: .5em 0 1em; }
#planets { display: flex; flex-wrap: wrap; gap: 1em; }
figure { margin: 0; width: 180px; background: #22252c; border-radius: 6px; padding: 10px; }
figure img, figure .none { display: block; width: 160px; height: 160px; margin: 0 auto; }
figure .none { line-height: 160px; text-align: center; background: #000; color: #888; }
figcaption { margin-top: .4em; overflow-wrap: anywhere; }
figcaption .name { font-weight: bold; }
figure.failed .name, figure.failed .status { color: #ff8a80; }
a { color: #9ecbff; }
</style>
</head>
<body>
<h1>GlobeForge planets</h1>
)";
    out += "<p>" + std::to_string(planets.size()) + " planets, " + std::to_string(done) +
           " rendered.</p>\n";
    out += "<button id=\"sort\" type=\"button\">Sort by name</button>\n<div id=\"planets\">\n";
    for (const PlanetRecord& p : planets) {
        const std::string name = HtmlEscape(p.name);
        out += "<figure class=\"planet " + HtmlEscape(p.status) + "\" data-name=\"" + name + "\">";
        const std::string link = p.maps.empty() ? p.settingsFile : p.maps.front().second;
        if (!p.thumbnail.empty()) {
            out += "<a href=\"" + HtmlEscape(UrlPath(link)) + "\"><img src=\"" +
                   HtmlEscape(UrlPath(p.thumbnail)) + "\" width=\"160\" height=\"160\" alt=\"" +
                   name + "\"></a>";
        } else {
            out += "<div class=\"none\">" + HtmlEscape(p.status) + "</div>";
        }
        out +=
            "\n<figcaption><span class=\"name\">" + name + "</span><br>seed " + HtmlEscape(p.seed);
        if (p.seconds) out += " &middot; " + Seconds(*p.seconds) + " s";
        if (p.status != "done") out += "<br><span class=\"status\">" + HtmlEscape(p.status);
        if (!p.message.empty()) out += ": " + HtmlEscape(p.message);
        if (p.status != "done") out += "</span>";
        out += "<br>";
        for (const auto& [key, path] : p.maps) {
            out += "<a href=\"" + HtmlEscape(UrlPath(path)) + "\">" + HtmlEscape(MapLabel(key)) +
                   "</a> ";
        }
        if (!p.model.empty()) {
            out += "<a href=\"" + HtmlEscape(UrlPath(p.model)) + "\">glTF</a> ";
        }
        out += "<a href=\"" + HtmlEscape(UrlPath(p.settingsFile)) +
               "\">settings</a></figcaption></figure>\n";
    }
    // Sorting by name: each click flips the order.
    out += R"html(</div>
<script>
(function () {
  var button = document.getElementById("sort"), list = document.getElementById("planets");
  var ascending = true;
  button.addEventListener("click", function () {
    var items = Array.prototype.slice.call(list.children);
    items.sort(function (a, b) {
      var c = a.dataset.name.localeCompare(b.dataset.name, undefined, { numeric: true });
      return ascending ? c : -c;
    });
    items.forEach(function (item) { list.appendChild(item); });
    button.textContent = ascending ? "Sort by name (Z-A)" : "Sort by name (A-Z)";
    ascending = !ascending;
  });
})();
</script>
</body>
</html>
)html";
    return out;
}

}  // namespace globeforge
