// Bounds-checked reads of an untrusted file image. A position or length that
// does not lie wholly inside the image is "not there": the read answers
// nothing and never touches memory outside [data, data + size).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

namespace korvex::image {

class ByteView {
public:
    constexpr ByteView() = default;
    constexpr ByteView(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    [[nodiscard]] constexpr const std::uint8_t* data() const { return data_; }
    [[nodiscard]] constexpr std::size_t size() const { return size_; }
    [[nodiscard]] constexpr bool empty() const { return size_ == 0; }

    // True when `length` bytes from `offset` lie inside the image.
    [[nodiscard]] constexpr bool contains(std::uint64_t offset, std::uint64_t length) const {
        return length <= size_ && offset <= size_ - length;
    }

    [[nodiscard]] std::optional<std::uint16_t> u16(std::uint64_t offset) const {
        if (!contains(offset, 2)) return std::nullopt;
        const std::uint8_t* p = data_ + offset;
        return static_cast<std::uint16_t>(p[0] | p[1] << 8);
    }

    [[nodiscard]] std::optional<std::uint32_t> u32(std::uint64_t offset) const {
        if (!contains(offset, 4)) return std::nullopt;
        const std::uint8_t* p = data_ + offset;
        return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
               static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
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
        const auto* start = data_ + offset;
        const std::size_t room = size_ - static_cast<std::size_t>(offset);
        const void* nul = std::memchr(start, 0, room);
        if (nul == nullptr) return std::nullopt;
        return static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - start);
    }

    // Pointer to `length` bytes at `offset`, or null when they are not all there.
    [[nodiscard]] const std::uint8_t* at(std::uint64_t offset, std::uint64_t length) const {
        return contains(offset, length) ? data_ + offset : nullptr;
    }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace korvex::image
