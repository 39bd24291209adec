#include "settings/typed_value.h"

#include <cstddef>
#include <cstdint>
#include <limits>

#include "settings/settings_file.h"
#include "settings/tokenizer.h"

namespace globeforge {

namespace {

// What a key's values are, and for whole numbers their range.
struct ValueRule {
    enum class Type { Any, Integer, Bool, Color, Mixture, TransparencyMode, HeightDepth };
    Type type = Type::Any;
    int32_t min = 0;
    int32_t max = 0;
};

constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();

// The integer text fields of the window hold any text; these are the numbers that make
// sense in them. The seed takes whatever the integer syntax reads (-2147483648 is outside
// it, so the decimal range is symmetric).
struct TextFieldRange {
    std::string_view key;
    int32_t min;
};
constexpr TextFieldRange kTextFieldRanges[] = {
    {"RandomSeed", -kIntMax}, {"OutputResolutionX", 1}, {"OutputResolutionY", 1},
    {"NumberOfCraters", 0},   {"CraterBasicRadius", 0},
};

ValueRule RuleOf(const SettingInfo& info) {
    using T = ValueRule::Type;
    switch (info.kind) {
        case SettingKind::Version:
            return {};
        case SettingKind::Text:
            for (const TextFieldRange& range : kTextFieldRanges) {
                if (range.key == info.key) return {T::Integer, range.min, kIntMax};
            }
            return {};
        case SettingKind::Bool:
            return {T::Bool};
        case SettingKind::Color:
            return {T::Color};
        case SettingKind::TrackBar:
        case SettingKind::Spin: {
            // The controls' ranges live in the model's defaults.
            static const SettingsModel defaults;
            const TrackBar& bar = *SettingValue<TrackBar>(defaults, info);
            return {T::Integer, bar.Min(), bar.Max()};
        }
        case SettingKind::Mixture:
            return {T::Mixture};
        case SettingKind::TransparencyMode:
            return {T::TransparencyMode};
        case SettingKind::HeightDepth:
            return {T::HeightDepth};
    }
    return {};
}

// True or False in any letter case: the words ParseBool reads as they are meant.
bool IsBoolWord(std::string_view value) {
    if (value.size() > 5) return false;
    std::string lower(value);
    for (char& ch : lower) ch = ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
    return lower == "true" || lower == "false";
}

// What the value is not, after the value itself: "is not True or False". Whole numbers are
// left to the callers, whose wording differs.
std::optional<std::string_view> WordProblem(const ValueRule& rule, std::string_view value) {
    using T = ValueRule::Type;
    switch (rule.type) {
        case T::Any:
        case T::Integer:
            return std::nullopt;
        case T::Bool:
            if (IsBoolWord(value)) return std::nullopt;
            return "is not True or False";
        case T::Color:
            if (ParseInteger(value)) return std::nullopt;
            return "is not a colour ($ and up to eight hex digits, 00BBGGRR)";
        case T::Mixture:
            if (value == "Add" || value == "Norm" || value == "Sub") return std::nullopt;
            return "is not Add, Norm or Sub";
        case T::TransparencyMode:
            if (value == "TransparencyMap" || value == "AlphaMap") return std::nullopt;
            return "is not TransparencyMap or AlphaMap";
        case T::HeightDepth: {
            const std::optional<int32_t> depth = ParseInteger(value);
            if (depth == 8 || depth == 16) return std::nullopt;
            return "is not 8 or 16";
        }
    }
    return std::nullopt;
}

bool InRange(const ValueRule& rule, std::optional<int32_t> number) {
    return number && *number >= rule.min && *number <= rule.max;
}

std::string Quoted(std::string_view value) {
    return Concat({"'", ValueExcerpt(value), "'"});
}

}  // namespace

std::string ValueExcerpt(std::string_view text) {
    constexpr size_t kMaxBytes = 60;
    bool cut = false;
    if (text.size() > kMaxBytes) {
        size_t end = kMaxBytes;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
        text = text.substr(0, end);
        cut = true;
    }
    std::string out;
    for (const char ch : text) out += static_cast<unsigned char>(ch) < 32 ? '?' : ch;
    if (cut) out += "...";
    return out;
}

std::optional<std::string> CheckTypedValue(std::string_view key, std::string_view value) {
    const SettingInfo* info = FindSetting(key);
    if (info == nullptr) {
        return Concat({Quoted(key), " is not a settings key (keys are case-sensitive)"});
    }
    value = TrimBlanks(value);
    const ValueRule rule = RuleOf(*info);
    if (rule.type == ValueRule::Type::Integer) {
        if (InRange(rule, ParseInteger(value))) return std::nullopt;
        return Concat({Quoted(value), " is not a whole number from ", std::to_string(rule.min),
                       " to ", std::to_string(rule.max)});
    }
    if (const std::optional<std::string_view> problem = WordProblem(rule, value)) {
        return Concat({Quoted(value), " ", *problem});
    }
    return std::nullopt;
}

std::optional<std::string> LoadedValueNote(const SettingsModel& applied, const SettingInfo& info,
                                           std::string_view value) {
    value = TrimBlanks(value);
    const ValueRule rule = RuleOf(info);
    std::string problem;
    if (rule.type == ValueRule::Type::Integer) {
        const std::optional<int32_t> number = ParseInteger(value);
        if (InRange(rule, number)) return std::nullopt;
        // A text field keeps a number as written; only the render reads it.
        if (info.kind == SettingKind::Text && number) return std::nullopt;
        problem = number ? Concat({ValueExcerpt(value), " is out of range"})
                         : Concat({Quoted(value), " is not a whole number"});
    } else if (info.kind == SettingKind::Color) {
        return std::nullopt;
    } else if (const std::optional<std::string_view> word = WordProblem(rule, value)) {
        problem = Concat({Quoted(value), " ", *word});
    } else {
        return std::nullopt;
    }
    // A text field's number is read as 0 when a render starts; a mode group keeps its button.
    const std::string used = info.kind == SettingKind::Text ? "0" : SettingValueText(applied, info);
    const std::string_view verb = info.kind == SettingKind::Mixture ? " kept" : " used";
    return Concat({info.key, " ", problem, ", ", used, verb});
}

}  // namespace globeforge
