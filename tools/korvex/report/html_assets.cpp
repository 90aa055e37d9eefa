#include "report/html_assets.h"

namespace korvex::host {

namespace {

constexpr char report_css[] = {
#include "report/assets/report.css.inc"
};
constexpr char report_js[] = {
#include "report/assets/report.js.inc"
};

}  // namespace

std::string_view shared_report_style() { return {report_css, sizeof report_css}; }

std::string_view shared_report_script() { return {report_js, sizeof report_js}; }

}  // namespace korvex::host
