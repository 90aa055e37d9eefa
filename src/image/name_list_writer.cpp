#include "image/name_list_writer.h"

#include <cstring>

namespace korvex::image {

bool NameListWriter::append(const std::uint8_t* text, std::size_t length) noexcept {
    if (!fits_in_name_list(used_, std::uint64_t{length} + 1)) return false;
    if (buffer_ != nullptr) {
        char* at = buffer_ + static_cast<std::size_t>(used_);
        if (length != 0) std::memcpy(at, text, length);
        at[length] = '\0';
    }
    used_ += length + 1;
    return true;
}

bool NameListWriter::append_entries(const std::uint8_t* entries, std::size_t length) noexcept {
    if (!fits_in_name_list(used_, length)) return false;
    if (buffer_ != nullptr && length != 0)
        std::memcpy(buffer_ + static_cast<std::size_t>(used_), entries, length);
    used_ += length;
    return true;
}

bool NameListWriter::append_ordinal(std::uint16_t ordinal) noexcept {
    std::uint8_t digits[ordinal_entry_size - 1];
    std::memset(digits, ' ', sizeof digits);
    std::size_t at = sizeof digits;
    do {
        digits[--at] = static_cast<std::uint8_t>('0' + ordinal % 10);
        ordinal = static_cast<std::uint16_t>(ordinal / 10);
    } while (ordinal != 0);
    return append(digits, sizeof digits);
}

std::int32_t NameListWriter::finish() noexcept {
    if (used_ <= 1) {
        if (buffer_ != nullptr) buffer_[0] = '\0';
        return 0;
    }
    if (buffer_ != nullptr) buffer_[static_cast<std::size_t>(used_)] = '\0';
    return static_cast<std::int32_t>(used_ + 1);
}

}  // namespace korvex::image
