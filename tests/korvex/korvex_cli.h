// Runs the korvex program under test, the one way every end-to-end test does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run_program.h"

namespace korvex::test {

inline ProgramResult korvex_cli(const std::vector<std::string>& arguments, const RunOptions& options = {}) {
    return run_program(KORVEX_CLI_PATH, arguments, options);
}

// A message korvex prints on failure: "korvex: " and one line.
inline bool is_one_message(const std::string& err) {
    return err.rfind("korvex: ", 0) == 0 && err.back() == '\n' && err.find('\n') == err.size() - 1;
}

// The smallest file korvex calls NE: an MZ header pointing at "NE".
inline std::vector<std::uint8_t> ne_image() {
    std::vector<std::uint8_t> bytes(0x80, 0);
    bytes[0] = 'M', bytes[1] = 'Z', bytes[0x3C] = 0x40, bytes[0x40] = 'N', bytes[0x41] = 'E';
    return bytes;
}

}  // namespace korvex::test
