#include "report/html_assets.h"

namespace korvex::host {

namespace {

constexpr char style[] = {
#include "report/assets/report.css.inc"
};
constexpr char script[] = {
#include "report/assets/report.js.inc"
};

}  // namespace

std::string_view shared_report_style() { return {style, sizeof style}; }

std::string_view shared_report_script() { return {script, sizeof script}; }

}  // namespace korvex::host
