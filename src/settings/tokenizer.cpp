#include "settings/tokenizer.h"

#include <algorithm>

namespace globeforge {

std::string_view TrimBlanks(std::string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool IsSeparator(char ch, std::string_view separators) {
    return IsBlank(ch) || separators.find(ch) != std::string_view::npos;
}

SplitView NextTokenView(std::string_view text, std::string_view separators) {
    const std::string_view trimmed = TrimBlanks(text);
    const auto separator = std::find_if(trimmed.begin(), trimmed.end(),
                                        [&](char ch) { return IsSeparator(ch, separators); });
    const size_t cut = static_cast<size_t>(separator - trimmed.begin());
    if (cut == trimmed.size()) return {trimmed, {}};
    // The token cannot hold a blank, but a leading separator from the list gives an empty
    // token; trimming keeps the contract plain either way.
    return {TrimBlanks(trimmed.substr(0, cut)), TrimBlanks(trimmed.substr(cut + 1))};
}

Split NextToken(std::string_view text, std::string_view separators) {
    const SplitView split = NextTokenView(text, separators);
    return {std::string(split.token), std::string(split.rest)};
}

SplitView SplitKeyValueView(std::string_view line) {
    return NextTokenView(line, "=");
}

Split SplitKeyValue(std::string_view line) {
    return NextToken(line, "=");
}

namespace {

int HexDigitValue(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<int32_t> ParseInteger(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    text.remove_prefix(pos);
    if (text.empty()) return std::nullopt;

    if (text.front() == '$') {
        const std::string_view digits = text.substr(1);
        if (digits.empty() || digits.size() > 8) return std::nullopt;
        uint32_t value = 0;
        for (const char ch : digits) {
            const int digit = HexDigitValue(ch);
            if (digit < 0) return std::nullopt;
            value = value * 16 + static_cast<uint32_t>(digit);
        }
        return static_cast<int32_t>(value);  // $80000000 and above wrap to negative
    }

    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    int64_t value = 0;
    for (const char ch : text) {
        if (ch < '0' || ch > '9') return std::nullopt;
        value = value * 10 + (ch - '0');
        // Stops overflow on long digit runs; -2147483648 is outside the syntax too, since
        // the digits themselves must stay within the positive range.
        if (value > INT32_MAX) return std::nullopt;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

int32_t SafeStrToInt(std::string_view text) {
    return ParseInteger(text).value_or(0);
}

std::string StripExtension(std::string_view path) {
    const size_t size = path.size();
    for (size_t back = 1; back <= 4 && back <= size; ++back) {
        const char ch = path[size - back];
        if (ch == '.') return std::string(path.substr(0, size - back));
        if (ch == '/') break;
    }
    return std::string(path);
}

std::string Concat(std::initializer_list<std::string_view> parts) {
    size_t size = 0;
    for (const std::string_view part : parts) size += part.size();
    std::string joined;
    joined.reserve(size);
    for (const std::string_view part : parts) joined.append(part);
    return joined;
}

}  // namespace globeforge
