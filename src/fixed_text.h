// Small text helpers every layer uses on fixed-size fields: bounded lengths,
// copies that cut to the field and always terminate, ASCII-only case
// changes, and the hash of a byte run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace korvex {

// Length of the text at `text`, reading no more than `limit` bytes.
inline std::size_t bounded_length(const char* text, std::size_t limit) noexcept {
    std::size_t length = 0;
    while (length < limit && text[length] != '\0') ++length;
    return length;
}

// Copies at most size - 1 characters of `text` and a terminator. It stops at
// the terminator or the limit, whichever comes first: bytes of a caller's
// text beyond its terminator are never read.
inline void copy_text_cut(const char* text, char* field, std::size_t size) noexcept {
    const std::size_t length = bounded_length(text, size - 1);
    std::memmove(field, text, length);
    field[length] = '\0';
}

// Copies the text at `text` (read up to its terminator or `source_size`
// bytes) into `field`, cut to the field's room, and terminates it.
template <std::size_t N>
void copy_text(char (&field)[N], const char* text, std::size_t source_size) noexcept {
    std::size_t length = bounded_length(text, source_size);
    if (length > N - 1) length = N - 1;
    std::memmove(field, text, length);
    field[length] = '\0';
}

template <std::size_t N, std::size_t M>
void copy_text(char (&field)[N], const char (&text)[M]) noexcept {
    copy_text(field, text, M);
}

// Only a to z: bytes of 128 and above belong to the code page and stay.
constexpr char ascii_upper(char c) noexcept {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr char ascii_lower(char c) noexcept {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// FNV-1a of `length` bytes.
inline std::uint32_t fnv1a_hash(const void* bytes, std::size_t length) noexcept {
    const auto* p = static_cast<const unsigned char*>(bytes);
    std::uint32_t hash = 2166136261u;
    for (std::size_t i = 0; i < length; ++i) hash = (hash ^ p[i]) * 16777619u;
    return hash;
}

}  // namespace korvex
