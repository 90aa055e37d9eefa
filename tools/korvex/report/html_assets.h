// The style and the script every HTML report shares (report/assets/report.css
// and report.js); each kind of report adds its own after them (html_page in
// report/html_page.h).
#pragma once

#include <string_view>

namespace korvex::host {

std::string_view shared_report_style();

// Defines `korvex`: the document (`korvex.data`) and the pieces the pages
// are made of, a collapsible tree, a sortable table and a search box, all
// built with DOM calls that take texts as text.
std::string_view shared_report_script();

}  // namespace korvex::host
