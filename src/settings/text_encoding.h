// Text files of the application shell are written in UTF-8. Files written on the original
// platform hold Shift-JIS (code page 932) instead, typically in Japanese folder names, so
// reading takes the bytes as UTF-8 when they are valid UTF-8 and converts them from
// Shift-JIS otherwise.
#pragma once

#include <string>
#include <string_view>

namespace globeforge {

// True when bytes is well-formed UTF-8 (no overlong forms, surrogates or values past
// U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// The UTF-8 text of a file's bytes: a leading UTF-8 byte-order mark is dropped; valid UTF-8
// is kept as it is; anything else is converted from code page 932, each byte that does not
// convert becoming U+FFFD. Linear in the input.
std::string DecodeTextFileBytes(std::string_view bytes);

}  // namespace globeforge
