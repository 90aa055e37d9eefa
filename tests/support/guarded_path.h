// A caller's path buffer of KORVEX_WORKFILE_PATH_SIZE bytes holding `text`
// (cut to 515 characters), followed by guard bytes the library must not
// touch. No GoogleTest here: the fuzz targets use it too.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "korvex32.h"

namespace korvex::test {

struct GuardedPath {
    char bytes[KORVEX_WORKFILE_PATH_SIZE + 64];
    explicit GuardedPath(const std::string& text) {
        std::memset(bytes, '#', sizeof bytes);
        const std::size_t length =
            std::min<std::size_t>(text.size(), KORVEX_WORKFILE_PATH_SIZE - 1);
        std::memcpy(bytes, text.data(), length);
        bytes[length] = '\0';
    }
    [[nodiscard]] bool guard_intact() const {
        return std::all_of(bytes + KORVEX_WORKFILE_PATH_SIZE, bytes + sizeof bytes,
                           [](char c) { return c == '#'; });
    }
};

}  // namespace korvex::test
