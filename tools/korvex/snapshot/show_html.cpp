#include <string_view>

#include "report/html_page.h"
#include "snapshot/snapshot_html.h"

namespace korvex::host {

namespace {

constexpr char show_css[] = {
#include "report/assets/show.css.inc"
};

std::string_view show_style() { return {show_css, sizeof show_css}; }

constexpr char show_js[] = {
#include "report/assets/show.js.inc"
};

std::string_view show_script() { return {show_js, sizeof show_js}; }

}  // namespace

std::string show_html(const nlohmann::json& document) {
    return html_page({"korvex show", show_style(), show_script()}, document);
}

}  // namespace korvex::host
