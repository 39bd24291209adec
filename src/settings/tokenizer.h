// Text routines of the application shell: splitting a settings line into key and value, the
// one integer syntax every typed number goes through (a conversion that never fails), and
// removing a short extension from a file name. Everything works on bytes of UTF-8 text and
// runs in time linear in the input.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace globeforge {

// A blank is a byte of code 32 or less: the space and every control character. Bytes above
// 127 (the parts of UTF-8 multibyte characters) are never blanks.
constexpr bool IsBlank(char ch) {
    return static_cast<unsigned char>(ch) <= 32;
}

// The text without blanks at either end.
std::string_view TrimBlanks(std::string_view text);

// True when ch is a blank or occurs in separators.
bool IsSeparator(char ch, std::string_view separators);

// The result of splitting the first token off a text: the token and the trimmed remainder.
struct Split {
    std::string token;
    std::string rest;
};

// The same split as views into the text given (valid while that text lives).
struct SplitView {
    std::string_view token;
    std::string_view rest;
};

// Trims the text, cuts it at its first separator (a blank or a byte of separators), and
// returns what came before as the token and what came after that one separator, trimmed,
// as the rest. Only one separator byte is consumed: "k = v" splits into "k" and "= v".
SplitView NextTokenView(std::string_view text, std::string_view separators);
Split NextToken(std::string_view text, std::string_view separators);

// The key and value of a settings line: a key followed by blanks or by "=".
SplitView SplitKeyValueView(std::string_view line);
Split SplitKeyValue(std::string_view line);

// The integer syntax: leading spaces (code 32 only) are skipped; then either an optional
// sign and decimal digits whose value lies in 0..2147483647 (negated after "-"), or "$" and
// one to eight hexadecimal digits of either case, values from $80000000 wrapping to negative
// numbers. Nothing may follow. Anything else has no value.
std::optional<int32_t> ParseInteger(std::string_view text);

// ParseInteger, with 0 for a text outside the syntax.
int32_t SafeStrToInt(std::string_view text);

// The path without an extension of up to three characters: the last four bytes are searched
// backwards for a dot, and everything before the first dot found is returned. A folder
// separator ends the search, so a dot in a folder name is never taken for an extension.
std::string StripExtension(std::string_view path);

// The pieces joined into one string. (Also sidesteps GCC 12's false -Wrestrict alarm on
// chains of "+" that start with a short literal.)
std::string Concat(std::initializer_list<std::string_view> parts);

}  // namespace globeforge
