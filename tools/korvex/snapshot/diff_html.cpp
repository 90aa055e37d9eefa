#include <string_view>

#include "report/html_page.h"
#include "snapshot/snapshot_html.h"

namespace korvex::host {

namespace {

constexpr char style[] = {
#include "report/assets/diff.css.inc"
};

std::string_view diff_style() { return {style, sizeof style}; }

constexpr char script[] = {
#include "report/assets/diff.js.inc"
};

std::string_view diff_script() { return {script, sizeof script}; }

}  // namespace

std::string diff_html(const nlohmann::json& document) {
    return html_page({"korvex diff", diff_style(), diff_script()}, document);
}

}  // namespace korvex::host
