// Texts korvex shows: the library's fixed-size fields, names compared as the
// loader compares them, name patterns, and what reaches a terminal.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace korvex::host {

// The text of a fixed-size record field: up to its first NUL, and never past
// the field, since a work file made elsewhere may hold unterminated fields.
template <std::size_t N>
std::string field_text(const char (&field)[N]) {
    const void* nul = std::memchr(field, 0, N);
    return std::string(field, nul ? static_cast<const char*>(nul) - field : N);
}

// Lower case of the ASCII letters only, as module names compare.
std::string lower_ascii(std::string text);

// `text` matches `pattern` (* any run, ? one character), letter case ignored.
bool matches_pattern(std::string_view text, std::string_view pattern);

// A text from a file or a snapshot as a terminal may show it: every control
// byte (below 0x20, and 0x7F) written as \xNN, and a backslash that would
// start such an escape doubled, so that an escape sequence planted in a name
// cannot move the cursor, retitle the window or hide a line. Other bytes pass
// as they are. Only text output is escaped; JSON and CSV keep the exact bytes.
std::string terminal_text(std::string_view text);

// "1 file", "3 files".
std::string count_of(std::size_t count, const char* singular, const char* plural);

// 1234567 as "1,234,567".
std::string with_thousands(std::uint64_t number);

}  // namespace korvex::host
