// How inspect prints what it learned: aligned text for people, JSON for
// programs.
#pragma once

#include <nlohmann/json.hpp>

#include "inspect/inspection.h"

namespace korvex::host {

// The parts not asked for (imports, exports) are left out.
void print_inspection(const Inspection& inspection, bool imports, bool exports);
nlohmann::json inspection_json(const Inspection& inspection, bool imports = true,
                               bool exports = true);

}  // namespace korvex::host
