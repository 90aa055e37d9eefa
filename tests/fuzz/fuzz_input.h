// Reads a fuzzer's input as a stream of small decisions. Past the end every
// read answers 0, so a short input is still a whole, valid sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvex::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    [[nodiscard]] bool empty() const { return at_ >= size_; }

    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | byte() << 8); }

    std::uint32_t u32() {
        const std::uint32_t low = u16();
        return low | static_cast<std::uint32_t>(u16()) << 16;
    }

    // One of `count` choices.
    std::size_t pick(std::size_t count) { return byte() % count; }

    // Up to `most` bytes taken as they stand, NULs included.
    std::string bytes(std::size_t most) {
        std::string out;
        const std::size_t length = byte() % (most + 1);
        for (std::size_t i = 0; i < length && !empty(); ++i)
            out.push_back(static_cast<char>(byte()));
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace korvex::fuzz
