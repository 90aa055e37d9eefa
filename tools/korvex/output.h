// How korvex prints what it learned: aligned text for people, JSON for programs.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "console.h"
#include "inspection.h"
#include "snapshot_reading.h"

namespace korvex::host {

// The parts not asked for (imports, exports) are left out.
void print_inspection(const Inspection& inspection, bool imports, bool exports);
nlohmann::json inspection_json(const Inspection& inspection, bool imports = true,
                               bool exports = true);

struct TableFormat {
    bool header = true;  // the line of column names
    bool csv = false;    // comma-separated values instead of aligned columns
};

void print_processes(const std::vector<ProcessRecord>& processes, TableFormat format);
// Each module with the name of the process it is loaded into, looked up in `processes`.
void print_modules(const std::vector<ModuleRecord>& modules,
                   const std::vector<ProcessRecord>& processes, TableFormat format);
nlohmann::json process_json(const ProcessRecord& record);
nlohmann::json module_json(const ModuleRecord& record);
nlohmann::json snapshot_json(const SnapshotPages& pages);

// Pretty JSON text, bytes the library gave as Latin-1 already converted.
void print_json(const nlohmann::json& document);
// One compact line, for streams of objects.
void print_json_line(const nlohmann::json& document);

}  // namespace korvex::host
