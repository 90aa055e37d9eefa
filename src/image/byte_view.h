// Bounds-checked reads of an untrusted file image. A position or length that
// does not lie wholly inside the image is "not there": the read answers
// nothing and never touches memory outside [data, data + size).
//
// A view of the held file carries its MappedFile, whose view may be filled
// from the file block by block (os/files.h): every read makes its bytes
// ready first, and a pointer handed out points at bytes that are ready.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "os/files.h"

namespace korvex::image {

class ByteView {
public:
    constexpr ByteView() = default;
    constexpr ByteView(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    // The view of a held file; `file` outlives the view.
    explicit ByteView(const os::MappedFile& file)
        : data_(file.view),
          size_(file.view ? file.size : 0),
          file_(file.filled ? &file : nullptr) {}

    [[nodiscard]] constexpr const std::uint8_t* data() const { return data_; }
    [[nodiscard]] constexpr std::size_t size() const { return size_; }
    [[nodiscard]] constexpr bool empty() const { return size_ == 0; }

    // True when `length` bytes from `offset` lie inside the image.
    [[nodiscard]] constexpr bool contains(std::uint64_t offset, std::uint64_t length) const {
        return length <= size_ && offset <= size_ - length;
    }

    [[nodiscard]] std::optional<std::uint16_t> u16(std::uint64_t offset) const {
        if (!contains(offset, 2) || !ready(offset, 2)) return std::nullopt;
        const std::uint8_t* p = data_ + offset;
        return static_cast<std::uint16_t>(p[0] | p[1] << 8);
    }

    [[nodiscard]] std::optional<std::uint32_t> u32(std::uint64_t offset) const {
        if (!contains(offset, 4) || !ready(offset, 4)) return std::nullopt;
        return le32(data_ + offset);
    }

    // The little-endian words at a pointer that at() or rest_of_block()
    // handed out, for a walk that has checked its bounds once for many reads.
    static constexpr std::uint32_t le32(const std::uint8_t* p) {
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
    }
    static constexpr std::uint64_t le64(const std::uint8_t* p) {
        return static_cast<std::uint64_t>(le32(p + 4)) << 32 | le32(p);
    }

    [[nodiscard]] std::optional<std::uint64_t> u64(std::uint64_t offset) const {
        const auto low = u32(offset);
        const auto high = u32(offset + 4);
        if (!low || !high) return std::nullopt;
        return static_cast<std::uint64_t>(*high) << 32 | *low;
    }

    // Length of the NUL-terminated string at `offset`, the NUL not counted;
    // nothing when the string does not end inside the image.
    [[nodiscard]] std::optional<std::size_t> string_length(std::uint64_t offset) const {
        if (offset >= size_) return std::nullopt;
        const auto start = static_cast<std::size_t>(offset);
        // A block at a time, so that only the blocks up to the NUL are filled.
        for (std::size_t at = start; at < size_;) {
            std::size_t length = 0;
            const std::uint8_t* bytes = rest_of_block(at, length);
            if (bytes == nullptr) return std::nullopt;
            // Eight bytes at a time: most names end within a few words.
            std::size_t i = 0;
            for (; i + 8 <= length; i += 8) {
                std::uint64_t word;
                std::memcpy(&word, bytes + i, 8);
                if (const std::uint64_t zeros = zero_bytes(word))
                    return at + i + static_cast<std::size_t>(std::countr_zero(zeros)) / 8 - start;
            }
            for (; i < length; ++i)
                if (bytes[i] == 0) return at + i - start;
            at += length;
        }
        return std::nullopt;
    }

    // The zero bytes of eight bytes read as a little-endian word (as x86
    // reads them): the high bit of each zero byte set and no other bit.
    static constexpr std::uint64_t zero_bytes(std::uint64_t word) {
        constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7Full;
        return ~(((word & low7) + low7) | word | low7);
    }

    // Pointer to `length` bytes at `offset`, or null when they are not all there.
    [[nodiscard]] const std::uint8_t* at(std::uint64_t offset, std::uint64_t length) const {
        if (!contains(offset, length) || !ready(offset, length)) return nullptr;
        return data_ + offset;
    }

    // The bytes from `offset` up to the end of its block (of the view when
    // the view is all there), made ready: a walk reads them through the
    // pointer without a check per read. Null when `offset` is outside, or
    // its block could not be made ready.
    [[nodiscard]] const std::uint8_t* rest_of_block(std::uint64_t offset,
                                                    std::size_t& length) const {
        if (offset >= size_) return nullptr;
        const auto at = static_cast<std::size_t>(offset);
        const std::size_t end = file_ ? next_block_start(at) : size_;
        if (!ready(at, end - at)) return nullptr;
        length = end - at;
        return data_ + at;
    }

    // Makes the blocks of up to `length` bytes from `offset` ready now, those
    // not filled yet in one read for each run of them: a walk that knows
    // roughly how far it will go saves a read for every block it crosses.
    // Bytes past the end of the view are left out.
    void read_ahead(std::uint64_t offset, std::uint64_t length) const {
        if (file_ == nullptr || offset >= size_) return;
        static_cast<void>(ready(offset, length < size_ - offset ? length : size_ - offset));
    }

private:
    // Fills the blocks of bytes inside the view that are not filled yet.
    // False when one of them has no memory (os::block_unusable): its bytes
    // are not there.
    [[nodiscard]] bool ready(std::uint64_t offset, std::uint64_t length) const {
        if (file_ == nullptr || length == 0) return true;
        const auto first = static_cast<std::size_t>(offset >> os::fill_block_shift);
        const auto last = static_cast<std::size_t>((offset + length - 1) >> os::fill_block_shift);
        for (std::size_t block = first; block <= last; ++block) {
            if (file_->filled[block] == os::block_unfilled) os::fill_blocks(*file_, block, last);
            if (file_->filled[block] != os::block_filled) return false;
        }
        return true;
    }

    [[nodiscard]] std::size_t next_block_start(std::size_t at) const {
        const std::size_t end = ((at >> os::fill_block_shift) + 1) << os::fill_block_shift;
        return end < size_ ? end : size_;
    }

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    const os::MappedFile* file_ = nullptr;  // null when the bytes are all there
};

}  // namespace korvex::image
