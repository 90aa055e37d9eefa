// The HTML pages of `korvex show --html` and `korvex diff --html`, each drawn
// from the command's --json document.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace korvex::host {

// {"processes", "modules"} as snapshot_json makes it: the process tree (parent
// to child) beside a sortable, filterable table of the modules of the process
// chosen in it, or of all.
std::string show_html(const nlohmann::json& document);

// {"started", "ended", "changed"} as diff --json prints it: the counts, then
// each process with its modules loaded, unloaded and changed.
std::string diff_html(const nlohmann::json& document);

}  // namespace korvex::host
