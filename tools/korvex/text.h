// Turning the library's fixed-size 8-bit texts into strings the host prints.
#pragma once

#include <cstddef>
#include <cstring>
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

// The library's texts are 8-bit ANSI; JSON wants UTF-8. Bytes of 128 and above
// are taken as Latin-1, which keeps every byte and never yields invalid UTF-8.
std::string to_utf8(const std::string& ansi);

}  // namespace korvex::host
