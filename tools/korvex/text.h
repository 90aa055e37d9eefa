// Turning the library's fixed-size 8-bit texts into strings the host prints.
#pragma once

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace korvex::host {

// The text of a fixed-size record field: up to its first NUL, and never past
// the field, since a work file made elsewhere may hold unterminated fields.
template <std::size_t N>
std::string field_text(const char (&field)[N]) {
    const void* nul = std::memchr(field, 0, N);
    return std::string(field, nul ? static_cast<const char*>(nul) - field : N);
}

// Splits a NameList (entries, each NUL-terminated, then one more NUL) of
// `size` bytes into its entries; never reads past `size`.
std::vector<std::string> split_name_list(const std::vector<char>& list);

// The library's texts are the system's 8-bit text; JSON wants UTF-8. On
// Windows that is the ANSI code page, converted; natively it is already
// UTF-8 (file names are bytes), passed through with every invalid sequence
// replaced by U+FFFD, so the result is always valid UTF-8.
std::string to_utf8(const std::string& text);

// A path korvex holds as the library takes it (ANSI on Windows), for
// std::filesystem, which would read a narrow Windows string as Latin-1.
std::filesystem::path native_path(const std::string& text);

#ifdef _WIN32
// A command-line argument as the ANSI functions (and so the library) can take
// it: its own spelling when the ANSI code page has every character, else the
// 8.3 short name of the file it names, else the closest spelling (with "?"
// for the characters missing, which no file name can hold).
std::string ansi_argument(const wchar_t* argument);
#endif

}  // namespace korvex::host
