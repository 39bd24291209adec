// A small INI document ("[section]" headers, "key=value" lines) that can be read, changed
// and written back with every other line, section and comment kept as it was. Section and
// key names compare without regard to ASCII case, as INI readers traditionally do.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace globeforge {

class IniFile {
  public:
    // An empty document.
    IniFile() = default;

    // The document of a UTF-8 text; lines end at CR, LF or CR LF. Never fails: lines that
    // are neither headers nor key lines are kept and otherwise ignored.
    static IniFile Parse(std::string_view text);

    // The value of the first key of that name in the first section of that name, without
    // blanks around it; nullopt when either is missing.
    std::optional<std::string> GetValue(std::string_view section, std::string_view key) const;

    // Replaces the value of that key, or adds the key at the end of the section, or adds the
    // section at the end of the document.
    void SetValue(std::string_view section, std::string_view key, std::string_view value);

    // The document's text, with the line ends the parsed text used (CR LF for a new one).
    std::string Text() const;

  private:
    std::vector<std::string> lines_;
    std::string newline_ = "\r\n";
};

}  // namespace globeforge
