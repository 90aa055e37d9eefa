// Runs the korvex program under test, the one way every end-to-end test does.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "korvex32.h"
#include "pe_builder.h"
#include "run_program.h"
#include "snapshot_bytes.h"
#include "snapshot_records.h"
#include "temp_dir.h"

namespace korvex::test {

inline ProgramResult korvex_cli(const std::vector<std::string>& arguments,
                                const RunOptions& options = {}) {
    return run_program(KORVEX_CLI_PATH, arguments, options);
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A message korvex prints on failure: "korvex: " and one line.
// File names as Windows compares them.
inline std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return text;
}

inline bool is_one_message(const std::string& err) {
    return err.rfind("korvex: ", 0) == 0 && err.back() == '\n' && err.find('\n') == err.size() - 1;
}

// The document an --html page carries in its data block (null when none).
inline nlohmann::json page_data(const std::string& page) {
    const std::string start = R"(<script type="application/json" id="korvex-data">)";
    const auto at = page.find(start);
    if (at == std::string::npos) return nullptr;
    const auto end = page.find("</script>", at);
    return nlohmann::json::parse(page.substr(at + start.size(), end - at - start.size()));
}

// A file's bytes as text.
inline std::string text_of(const std::string& path) {
    const auto bytes = read_file(path);
    return std::string(bytes.begin(), bytes.end());
}

// The smallest file korvex calls NE: an MZ header pointing at "NE".
inline std::vector<std::uint8_t> ne_image() { return mz_with_signature(0x40, {'N', 'E'}, 0x80); }

// A module of `process` loaded from C:\APP\name, with the version and size given.
inline ModuleRecord module_record(std::uint32_t process, const std::string& name,
                                  const std::string& version, std::uint32_t size) {
    ModuleRecord record = module_record(process, name.c_str(), ("C:\\APP\\" + name).c_str());
    std::snprintf(record.szVersion, sizeof record.szVersion, "%s", version.c_str());
    std::snprintf(record.szDate, sizeof record.szDate, "%s", "12/31/2025");
    record.dwFileSize = size;
    return record;
}

}  // namespace korvex::test
