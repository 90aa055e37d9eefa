// Writes a NameList into a caller's buffer, or only measures it.
//
// A NameList is a run of NUL-terminated entries followed by one more NUL. Its
// size is T + 1, T being the bytes of the entries with their NULs, and the
// lists answer T + 1 when T > 1 and 0 otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvex::image {

// The answer is a 32-bit signed size, so no list grows past this many bytes:
// an entry that would take it further is not listed, nor is any after it.
inline constexpr std::uint64_t max_name_list_size = 0x7FFFFFFF;

// True when `entry_bytes` more bytes of entries still leave room for the final
// NUL within max_name_list_size, after `used` bytes of entries.
constexpr bool fits_in_name_list(std::uint64_t used, std::uint64_t entry_bytes) {
    return entry_bytes < max_name_list_size && used <= max_name_list_size - 1 - entry_bytes;
}

// Bytes of "%5u" for a 16-bit ordinal and its NUL.
inline constexpr std::size_t ordinal_entry_size = 6;

class NameListWriter {
public:
    // A null buffer measures only; nothing is written.
    explicit NameListWriter(char* buffer) noexcept : buffer_(buffer) {}

    // Appends the `length` bytes at `text` and a NUL. Answers false, and
    // appends nothing, when the list would grow past max_name_list_size.
    bool append(const std::uint8_t* text, std::size_t length) noexcept;

    // Appends bytes that already hold whole entries, NULs included.
    bool append_entries(const std::uint8_t* entries, std::size_t length) noexcept;

    // Appends the ordinal as "%5u" gives it: five characters, right-aligned,
    // blanks on the left, then a NUL.
    bool append_ordinal(std::uint16_t ordinal) noexcept;

    // Writes the final NUL and answers the list's size, T + 1 when T > 1.
    // When T is 0 or 1 the list answers 0, and what a fill leaves is a single
    // NUL at the buffer's first byte: a lone empty entry is not written, so
    // nothing lands past the one byte an empty list may take.
    std::int32_t finish() noexcept;

private:
    char* buffer_;
    std::uint64_t used_ = 0;
};

}  // namespace korvex::image
