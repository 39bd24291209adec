#include "settings/settings_file.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <optional>

#include "settings/text_encoding.h"
#include "settings/text_file_io.h"
#include "settings/tokenizer.h"
#include "settings/typed_value.h"

namespace globeforge {

namespace {

std::string BadColorMessage(std::string_view key, std::string_view value) {
    return Concat({"'", ValueExcerpt(value), "' is not a valid integer value for ", key});
}

}  // namespace

bool ParseBool(std::string_view text) {
    const std::string_view trimmed = TrimBlanks(text);
    if (trimmed.size() != 4) return false;
    constexpr std::string_view kTrue = "true";
    for (size_t i = 0; i < 4; ++i) {
        char ch = trimmed[i];
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
        if (ch != kTrue[i]) return false;
    }
    return true;
}

std::string_view BoolText(bool value) {
    return value ? "True" : "False";
}

std::string ColorText(PanelColor color) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "$%.8x", static_cast<unsigned>(color));
    return buffer;
}

std::string_view MixtureText(MixtureButton button) {
    // In the order of MixtureButton.
    static constexpr std::array<std::string_view, 3> kTexts = {"Add", "Norm", "Sub"};
    return kTexts[static_cast<size_t>(button)];
}

std::string_view TransparencyModeText(bool forAlphaBlending) {
    return forAlphaBlending ? "AlphaMap" : "TransparencyMap";
}

std::string_view HeightDepthText(bool depth16) {
    return depth16 ? "16" : "8";
}

std::string SettingsLine(std::string_view key, std::string_view value) {
    std::string line;
    line.reserve(key.size() + 1 + value.size());
    line.append(key).append(" ").append(value);
    return line;
}

std::string SettingValueText(const SettingsModel& model, const SettingInfo& info) {
    switch (info.kind) {
        case SettingKind::Version:
            // A file records the program that wrote it, whatever version it was loaded from.
            return std::string(kProgramVersion);
        case SettingKind::Text:
            return *SettingValue<std::string>(model, info);
        case SettingKind::Bool:
            return std::string(BoolText(*SettingValue<bool>(model, info)));
        case SettingKind::Color:
            return ColorText(*SettingValue<PanelColor>(model, info));
        case SettingKind::TrackBar:
        case SettingKind::Spin:
            return std::to_string(SettingValue<TrackBar>(model, info)->Position());
        case SettingKind::Mixture:
            return std::string(MixtureText(*SettingValue<MixtureButton>(model, info)));
        case SettingKind::TransparencyMode:
            return std::string(TransparencyModeText(*SettingValue<bool>(model, info)));
        case SettingKind::HeightDepth:
            return std::string(HeightDepthText(*SettingValue<bool>(model, info)));
    }
    return {};
}

bool ApplySettingValue(SettingsModel& model, const SettingInfo& info, std::string_view value) {
    switch (info.kind) {
        case SettingKind::Version:
        case SettingKind::Text:
            *SettingValue<std::string>(model, info) = value;
            return true;
        case SettingKind::Bool:
            *SettingValue<bool>(model, info) = ParseBool(value);
            return true;
        case SettingKind::Color: {
            const std::optional<int32_t> color = ParseInteger(value);
            if (!color) return false;
            *SettingValue<PanelColor>(model, info) = static_cast<PanelColor>(*color);
            return true;
        }
        case SettingKind::TrackBar:
        case SettingKind::Spin:
            SettingValue<TrackBar>(model, info)->SetPosition(SafeStrToInt(value));
            return true;
        case SettingKind::Mixture: {
            MixtureButton& group = *SettingValue<MixtureButton>(model, info);
            if (value == "Add") group = MixtureButton::Add;
            if (value == "Norm") group = MixtureButton::Norm;
            if (value == "Sub") group = MixtureButton::Sub;
            return true;
        }
        case SettingKind::TransparencyMode:
            *SettingValue<bool>(model, info) = value != "TransparencyMap";
            return true;
        case SettingKind::HeightDepth:
            // Only 8 and 16 exist; any other depth falls back to 8.
            *SettingValue<bool>(model, info) = SafeStrToInt(value) == 16;
            return true;
    }
    return true;
}

std::string SettingsText(const SettingsModel& model) {
    std::string text;
    for (const SettingInfo& info : SettingsTable()) {
        text += SettingsLine(info.key, SettingValueText(model, info));
        text += "\r\n";
    }
    return text;
}

SettingsResult ApplySettingsLine(SettingsModel& model, std::string_view line) {
    const SplitView split = SplitKeyValueView(line);
    const SettingInfo* info = FindSetting(split.token);
    SettingsResult result;
    if (info == nullptr) {
        // Likely a misspelt key, whose value would otherwise vanish without a word.
        if (!split.token.empty()) {
            result.warnings.push_back(
                Concat({"'", ValueExcerpt(split.token), "' is not a settings key, line ignored"}));
        }
        return result;
    }
    if (!ApplySettingValue(model, *info, split.rest)) {
        result.ok = false;
        result.message = BadColorMessage(info->key, split.rest);
        return result;
    }
    if (std::optional<std::string> note = LoadedValueNote(model, *info, split.rest)) {
        result.warnings.push_back(std::move(*note));
    }
    return result;
}

SettingsResult ApplySettingsText(SettingsModel& model, std::string_view text,
                                 std::string_view sourceName) {
    int lineNumber = 0;
    size_t pos = 0;
    std::vector<std::string> warnings;
    size_t hiddenWarnings = 0;
    const auto finish = [&](SettingsResult result) {
        if (hiddenWarnings > 0) {
            warnings.push_back(Concat({"and ", std::to_string(hiddenWarnings), " more"}));
        }
        result.warnings = std::move(warnings);
        return result;
    };
    while (pos < text.size()) {
        const size_t end = text.find_first_of("\r\n", pos);
        const size_t lineEnd = end == std::string_view::npos ? text.size() : end;
        ++lineNumber;
        SettingsResult result = ApplySettingsLine(model, text.substr(pos, lineEnd - pos));
        if (!result.ok) {
            result.line = lineNumber;
            result.message =
                Concat({sourceName, ", line ", std::to_string(lineNumber), ": ", result.message});
            return finish(std::move(result));
        }
        for (const std::string& warning : result.warnings) {
            if (warnings.size() < kMaxSettingsWarnings) {
                warnings.push_back(
                    Concat({sourceName, " line ", std::to_string(lineNumber), ": ", warning}));
            } else {
                ++hiddenWarnings;
            }
        }
        // Past the line end: CR LF counts as one.
        pos = lineEnd;
        if (pos < text.size() && text[pos++] == '\r' && pos < text.size() && text[pos] == '\n') {
            ++pos;
        }
    }
    return finish({});
}

SettingsResult LoadSettings(SettingsModel& model, const std::string& fileName) {
    const settings_io::ReadResult file = settings_io::ReadFileBytes(fileName);
    if (!file.ok) {
        return {false, Concat({"Cannot read settings file ", fileName, ": ", file.error}), 0, {}};
    }
    return ApplySettingsText(model, DecodeTextFileBytes(file.bytes), fileName);
}

SettingsResult SaveSettings(const SettingsModel& model, const std::string& fileName) {
    const std::string error = settings_io::ReplaceFileAtomically(fileName, SettingsText(model));
    if (!error.empty()) {
        return {false, Concat({"Cannot write settings file ", fileName, ": ", error}), 0, {}};
    }
    return {};
}

}  // namespace globeforge
