#include "settings/ini_file.h"

#include "settings/tokenizer.h"

namespace globeforge {

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The name of a "[name]" header line, or nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
    const std::string_view trimmed = TrimBlanks(line);
    if (!trimmed.starts_with('[')) return std::nullopt;
    const size_t close = trimmed.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return TrimBlanks(trimmed.substr(1, close - 1));
}

struct KeyLine {
    std::string_view key;
    std::string_view value;
};

// The key and value of a "key=value" line; nullopt for comments and other lines.
std::optional<KeyLine> ParseKeyLine(std::string_view line) {
    const std::string_view trimmed = TrimBlanks(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') return std::nullopt;
    const size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    return KeyLine{TrimBlanks(trimmed.substr(0, equals)), TrimBlanks(trimmed.substr(equals + 1))};
}

}  // namespace

IniFile IniFile::Parse(std::string_view text) {
    IniFile ini;
    const size_t firstEnd = text.find_first_of("\r\n");
    if (firstEnd != std::string_view::npos && text[firstEnd] == '\n') ini.newline_ = "\n";
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find_first_of("\r\n", pos);
        const size_t lineEnd = end == std::string_view::npos ? text.size() : end;
        ini.lines_.emplace_back(text.substr(pos, lineEnd - pos));
        pos = lineEnd;
        if (pos < text.size() && text[pos++] == '\r' && pos < text.size() && text[pos] == '\n') {
            ++pos;
        }
    }
    return ini;
}

std::optional<std::string> IniFile::GetValue(std::string_view section, std::string_view key) const {
    bool inSection = false;
    bool sectionSeen = false;
    for (const std::string& line : lines_) {
        if (const auto name = SectionName(line)) {
            // Only the first section of the name counts, as for SetValue.
            if (inSection) return std::nullopt;
            inSection = !sectionSeen && EqualsIgnoringCase(*name, section);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (!inSection) continue;
        const auto keyLine = ParseKeyLine(line);
        if (keyLine && EqualsIgnoringCase(keyLine->key, key)) return std::string(keyLine->value);
    }
    return std::nullopt;
}

void IniFile::SetValue(std::string_view section, std::string_view key, std::string_view value) {
    size_t sectionStart = lines_.size();  // index of the header, or size when absent
    size_t insertAt = lines_.size();      // after the section's last non-blank line
    for (size_t i = 0; i < lines_.size(); ++i) {
        const auto name = SectionName(lines_[i]);
        if (sectionStart == lines_.size()) {
            if (name && EqualsIgnoringCase(*name, section)) {
                sectionStart = i;
                insertAt = i + 1;
            }
            continue;
        }
        if (name) break;
        const auto keyLine = ParseKeyLine(lines_[i]);
        if (keyLine && EqualsIgnoringCase(keyLine->key, key)) {
            // Keep the key as the file spells it.
            lines_[i] = Concat({keyLine->key, "=", value});
            return;
        }
        if (!TrimBlanks(lines_[i]).empty()) insertAt = i + 1;
    }
    const std::string keyLine = Concat({key, "=", value});
    if (sectionStart != lines_.size()) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), keyLine);
        return;
    }
    if (!lines_.empty() && !TrimBlanks(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back(Concat({"[", section, "]"}));
    lines_.push_back(keyLine);
}

std::string IniFile::Text() const {
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += newline_;
    }
    return text;
}

}  // namespace globeforge
