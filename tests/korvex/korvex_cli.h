// Runs the korvex program under test, the one way every end-to-end test does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "korvex32.h"
#include "run_program.h"
#include "snapshot_bytes.h"

namespace korvex::test {

inline ProgramResult korvex_cli(const std::vector<std::string>& arguments, const RunOptions& options = {}) {
    return run_program(KORVEX_CLI_PATH, arguments, options);
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

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

inline ProcessRecord process_record(std::uint32_t id, const std::string& exe) {
    ProcessRecord record{};
    record.dwSize = sizeof record;
    record.th32ProcessID = id;
    exe.copy(record.szExeFile, sizeof record.szExeFile - 1);
    return record;
}

inline ModuleRecord module_record(std::uint32_t process, const std::string& name, const std::string& version,
                                  std::uint32_t size) {
    ModuleRecord record{};
    record.dwProcessID = process;
    name.copy(record.szShortName, sizeof record.szShortName - 1);
    version.copy(record.szVersion, sizeof record.szVersion - 1);
    std::string("12/31/2025").copy(record.szDate, 10);
    std::string("13:05p").copy(record.szTime, 6);
    ("C:\\APP\\" + name).copy(record.szPath, sizeof record.szPath - 1);
    record.dwFileSize = size;
    return record;
}

}  // namespace korvex::test
