// How inspect prints what it learned: aligned text for people, JSON for
// programs.
#pragma once

#include <nlohmann/json.hpp>

#include "inspect/inspection.h"

namespace korvex::host {

// The parts not asked for (headers, imports, exports) are left out.
void print_inspection(const Inspection& inspection, InspectParts parts);
nlohmann::json inspection_json(const Inspection& inspection, InspectParts parts = {});

// One table of an inspection as CSV rows (RFC 4180), under a header line
// printed once: "imports" (file, module, function, ordinal) or "exports"
// (file, ordinal, name, forwarder).
void print_csv_header(const std::string& table);
void print_inspection_csv(const Inspection& inspection, const std::string& table);

}  // namespace korvex::host
