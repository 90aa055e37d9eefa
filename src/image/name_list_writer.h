// Writes a NameList into a caller's buffer, or only measures it.
//
// A NameList is a run of NUL-terminated entries followed by one more NUL. Its
// size is T + 1, T being the bytes of the entries with their NULs, and the
// lists answer T + 1 when T > 1 and 0 otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace korvex::image {

// The answer is a 32-bit signed size, so no list grows past this many bytes:
// an entry that would take it further is not listed, nor is any after it.
inline constexpr std::uint64_t max_name_list_size = 0x7FFFFFFF;

// True when `entry_bytes` more bytes of entries still leave room for the final
// NUL within max_name_list_size, after `used` bytes of entries.
constexpr bool fits_in_name_list(std::uint64_t used, std::uint64_t entry_bytes) {
    return entry_bytes < max_name_list_size && used <= max_name_list_size - 1 - entry_bytes;
}

// The size a list whose entries take `entry_bytes` (T) answers: T + 1 when
// T > 1, else 0.
constexpr std::int32_t name_list_answer(std::uint64_t entry_bytes) {
    return entry_bytes <= 1 ? 0 : static_cast<std::int32_t>(entry_bytes + 1);
}

// Bytes of "%5u" for a 16-bit ordinal and its NUL.
inline constexpr std::size_t ordinal_entry_size = 6;

// Copies `length` bytes. Names mostly take fewer than 32 bytes, which two
// overlapping moves copy without a call; longer ones go to memcpy.
inline void copy_name_bytes(char* to, const std::uint8_t* from, std::size_t length) noexcept {
    if (length >= 16 && length <= 32) {
        std::memcpy(to, from, 16);
        std::memcpy(to + length - 16, from + length - 16, 16);
    } else if (length >= 8 && length < 16) {
        std::memcpy(to, from, 8);
        std::memcpy(to + length - 8, from + length - 8, 8);
    } else if (length >= 4 && length < 8) {
        std::memcpy(to, from, 4);
        std::memcpy(to + length - 4, from + length - 4, 4);
    } else if (length > 32) {
        std::memcpy(to, from, length);
    } else {
        for (std::size_t i = 0; i < length; ++i) to[i] = static_cast<char>(from[i]);
    }
}

class NameListWriter {
public:
    // A null buffer measures only; nothing is written.
    explicit NameListWriter(char* buffer) noexcept : buffer_(buffer) {}
    // A buffer that holds `room` bytes of entries: an entry that would pass
    // them is not written, and the writer measures only from there on.
    NameListWriter(char* buffer, std::uint64_t room) noexcept
        : buffer_(buffer),
          room_(room),
          plain_end_(room < max_name_list_size - 1 ? room : max_name_list_size - 1) {}

    // Appends the `length` bytes at `text` and a NUL. Answers false, and
    // appends nothing, when the list would grow past max_name_list_size.
    // Inline: a lookup table's walk appends one entry per step.
    bool append(const std::uint8_t* text, std::size_t length) noexcept {
        // used_ <= plain_end_ always holds, so this is used_ + length + 1 <=
        // plain_end_: one comparison for an entry that fits the list and the
        // buffer alike.
        if (length < plain_end_ - used_) {
            if (buffer_ != nullptr) {
                char* at = buffer_ + static_cast<std::size_t>(used_);
                copy_name_bytes(at, text, length);
                at[length] = '\0';
            }
            used_ += length + 1;
            return true;
        }
        if (!fits_in_name_list(used_, std::uint64_t{length} + 1)) return false;
        // The entry fits the list but not the buffer: measure only from here.
        stop_writing();
        used_ += length + 1;
        return true;
    }

    // Appends bytes that already hold whole entries, NULs included.
    bool append_entries(const std::uint8_t* entries, std::size_t length) noexcept {
        if (!fits_in_name_list(used_, length)) return false;
        if (buffer_ != nullptr && room_ - used_ < length) stop_writing();
        if (buffer_ != nullptr && length != 0)
            std::memcpy(buffer_ + static_cast<std::size_t>(used_), entries, length);
        used_ += length;
        return true;
    }

    // Appends the ordinal as "%5u" gives it: five characters, right-aligned,
    // blanks on the left, then a NUL.
    bool append_ordinal(std::uint16_t ordinal) noexcept {
        if (buffer_ == nullptr) {
            if (!fits_in_name_list(used_, ordinal_entry_size)) return false;
            used_ += ordinal_entry_size;
            return true;
        }
        std::uint8_t digits[ordinal_entry_size - 1] = {' ', ' ', ' ', ' ', ' '};
        std::size_t at = sizeof digits;
        do {
            digits[--at] = static_cast<std::uint8_t>('0' + ordinal % 10);
            ordinal = static_cast<std::uint16_t>(ordinal / 10);
        } while (ordinal != 0);
        return append(digits, sizeof digits);
    }

    // Writes the final NUL and answers the list's size, T + 1 when T > 1.
    // When T is 0 or 1 the list answers 0, and what a fill leaves is a single
    // NUL at the buffer's first byte: a lone empty entry is not written, so
    // nothing lands past the one byte an empty list may take.
    std::int32_t finish() noexcept;

    // Bytes of the entries appended so far (T).
    [[nodiscard]] std::uint64_t used() const noexcept { return used_; }
    // Whether the buffer holds them all (it may have run out of room).
    [[nodiscard]] bool wrote_all() const noexcept { return buffer_ != nullptr; }

private:
    void stop_writing() noexcept {
        buffer_ = nullptr;
        plain_end_ = max_name_list_size - 1;
    }

    char* buffer_;
    std::uint64_t room_ = UINT64_MAX;
    // The most entry bytes that need no check beyond one comparison: the
    // list's limit, or the buffer's room when that is less.
    std::uint64_t plain_end_ = max_name_list_size - 1;
    std::uint64_t used_ = 0;
};

}  // namespace korvex::image
