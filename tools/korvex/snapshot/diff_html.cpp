#include <string_view>

#include "report/html_page.h"
#include "snapshot/snapshot_html.h"

namespace korvex::host {

namespace {

constexpr char diff_css[] = {
#include "report/assets/diff.css.inc"
};

std::string_view diff_style() { return {diff_css, sizeof diff_css}; }

constexpr char diff_js[] = {
#include "report/assets/diff.js.inc"
};

std::string_view diff_script() { return {diff_js, sizeof diff_js}; }

}  // namespace

std::string diff_html(const nlohmann::json& document) {
    return html_page({"korvex diff", diff_style(), diff_script()}, document);
}

}  // namespace korvex::host
