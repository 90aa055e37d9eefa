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

// The same text without a copy, for comparing many records.
template <std::size_t N>
std::string_view field_view(const char (&field)[N]) {
    const void* nul = std::memchr(field, 0, N);
    return std::string_view(field, nul ? static_cast<const char*>(nul) - field : N);
}

// Lower case of the ASCII letters only, as module names compare.
std::string lower_ascii(std::string text);

// `text` matches `pattern` (* any run, ? one character), letter case ignored.
bool matches_pattern(std::string_view text, std::string_view pattern);

// A name or path from a file or a snapshot as a terminal may show it. An
// ordinary name passes exactly as it is, backslashes and all. One that holds
// a control (C0, DEL, C1 as the raw bytes 0x80-0x9F that are not UTF-8 or as
// U+0080-U+009F, or a bidi control such as U+202E), or that begins with a
// double quote, is shown whole in double quotes with C escapes, as git shows
// such paths: "EVIL\x1b]0;x\x07.dll", with \" and \\ for the quote and the
// backslash, so that what a planted escape sequence would do (move the
// cursor, retitle the window, reverse a line) is shown instead of done, and
// the quoted form cannot be mistaken for a name. Only text output is escaped;
// JSON and CSV keep the exact bytes.
std::string terminal_text(std::string_view name);

// A sentence that may hold names (an error line, the progress line): each
// control is written \xNN where it stands, without quotes, and every other
// byte, backslashes included, passes; a name already shown by terminal_text
// passes unchanged.
std::string terminal_line(std::string_view text);

// Names in the order Windows lists them: letter case ignored (the letters
// compared upper-cased, as the file system's own order compares them), then
// byte order, so that the order is total.
bool windows_name_less(std::string_view a, std::string_view b);

// `name` joined to `folder` with the separator the folder already uses
// ("/usr/lib/wine/acledit.dll" under Windows too), or the system's own when
// the folder has none; none is added when the folder ends with one.
std::string joined_path(const std::string& folder, const std::string& name);

// A usage error in the one form korvex gives them all: what is wrong, begun
// in lower case unless it begins with a name ("FILE is required", "--rows:
// ..."), and where the options are told, then a full stop: "the following
// argument was not expected: --x (see korvex inspect --help)."
std::string usage_sentence(std::string_view what, std::string_view command);

// "1 file", "3 files".
std::string count_of(std::size_t count, const char* singular, const char* plural);

// 1234567 as "1,234,567".
std::string with_thousands(std::uint64_t number);

}  // namespace korvex::host
