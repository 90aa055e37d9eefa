// The HTML page of `korvex deps --html`, drawn from the --json document.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace korvex::host {

// The page for a document {"roots": [...]} as dependency_json makes each
// root: the missing modules and functions first, then each program's tree
// beside a sortable table of every module, with a search over both.
std::string deps_html(const nlohmann::json& document);

}  // namespace korvex::host
