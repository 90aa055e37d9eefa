// The memory one input file may make korvex keep: 16 times its size plus
// 64 MiB. Everything the host keeps of a file (names, lists, table entries,
// graph nodes) is charged here as it is kept, with its containers' overhead,
// so that a crafted file is refused with the limit named instead of running
// the process out of memory; a 32-bit korvex has 2 GiB of address space in
// all.
#pragma once

#include <cstdint>
#include <string>

#include "image_readers/pe_image.h"

namespace korvex::host {

// An object's share of a budget is its size in the 64-bit builds, named where
// it is charged and checked there by those builds. The 32-bit build charges
// the same, though its own objects are smaller, so that a file gets one
// verdict whichever korvex reads it.
template <typename T, std::uint64_t bytes>
constexpr std::uint64_t wide_size() {
    static_assert(sizeof(void*) != 8 || sizeof(T) == bytes, "T's size in a 64-bit build");
    return bytes;
}

class InputBudget {
public:
    static constexpr std::uint64_t string_bytes = wide_size<std::string, 32>();

    static constexpr std::uint64_t per_file_byte = 16;
    static constexpr std::uint64_t fixed_bytes = 64ull << 20;
    // What a file of `size` bytes may cost. Part of the ceiling is left
    // uncharged for the view of the file itself and for what a run holds
    // whatever its input (the library, the output being built).
    static constexpr std::uint64_t ceiling(std::uint64_t size) {
        return size > (~std::uint64_t{0} - fixed_bytes) / per_file_byte
                   ? ~std::uint64_t{0}
                   : size * per_file_byte + fixed_bytes;
    }

    explicit InputBudget(std::uint64_t file_size)
        : left_(ceiling(file_size) - file_size - reserved_bytes) {}

    // Takes `bytes`; false (and nothing taken) once the budget cannot hold
    // them, and from then on.
    bool take(std::uint64_t bytes) {
        if (exceeded_ || bytes > left_) {
            exceeded_ = true;
            return false;
        }
        left_ -= bytes;
        return true;
    }
    // A string's share: the object, and the heap block of its characters
    // when they do not fit in the object itself.
    bool take_string(std::uint64_t length) {
        return take(string_bytes + (length >= string_bytes / 2 ? heap_block(length + 1) : 0));
    }
    // What the allocator takes for `bytes`: its header, rounded up to its
    // 16-byte steps (glibc's malloc; Windows' heap takes as much or less):
    // counting the characters alone let the peak near the ceiling for names
    // just long enough to leave the object.
    static constexpr std::uint64_t heap_block(std::uint64_t bytes) {
        return bytes > ~std::uint64_t{0} - 24 ? ~std::uint64_t{0} : (bytes + 8 + 15) / 16 * 16;
    }
    // One node of a hash table or tree (its links, allocator header and
    // bucket) beside the value it holds.
    static constexpr std::uint64_t node_overhead = 48;

    // A walk's budget grows by the share of each further file it takes in.
    void grant_file(std::uint64_t size) {
        const std::uint64_t share = ceiling(size) - fixed_bytes;
        left_ = share > ~std::uint64_t{0} - left_ ? ~std::uint64_t{0} : left_ + share;
    }

    [[nodiscard]] bool exceeded() const { return exceeded_; }
    [[nodiscard]] std::uint64_t left() const { return left_; }

    // The sentence that names the limit, after the file's name.
    static std::string refusal(std::uint64_t file_size);

private:
    static constexpr std::uint64_t reserved_bytes = 16ull << 20;
    std::uint64_t left_;
    bool exceeded_ = false;
};

// Names longer than this are damage, whatever holds them (an import,
// export, forwarder or module name): the loader's own names are far shorter.
inline constexpr std::size_t max_name_bytes = image::max_name_length;

// "is damaged: WHAT is longer than 8,192 bytes, the limit for any name".
std::string name_too_long(const char* what);

// Real programs import from a few dozen modules and a few thousand functions
// and export as many; a file past these is refused as hostile, by inspect
// and deps alike.
inline constexpr std::size_t max_modules_per_file = 4096;
inline constexpr std::size_t max_functions_per_file = 1'000'000;

// "is hostile: WHAT more than LIMIT ITEMS, the limit per file".
std::string too_many(const char* what, std::size_t limit, const char* items);

}  // namespace korvex::host
