// Texts in fixed-size record fields: always terminated inside the field.
#pragma once

#include <cstddef>
#include <cstring>

namespace korvex::snapshot {

// Length of the text at `text`, reading no more than `limit` bytes.
inline std::size_t bounded_length(const char* text, std::size_t limit) noexcept {
    std::size_t length = 0;
    while (length < limit && text[length] != '\0') ++length;
    return length;
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

}  // namespace korvex::snapshot
