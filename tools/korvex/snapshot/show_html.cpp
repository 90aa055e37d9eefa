#include <string_view>

#include "report/html_page.h"
#include "snapshot/snapshot_html.h"

namespace korvex::host {

namespace {

constexpr char style[] = {
#include "report/assets/show.css.inc"
};

std::string_view show_style() { return {style, sizeof style}; }

constexpr char script[] = {
#include "report/assets/show.js.inc"
};

std::string_view show_script() { return {script, sizeof script}; }

}  // namespace

std::string show_html(const nlohmann::json& document) {
    return html_page({"korvex show", show_style(), show_script()}, document);
}

}  // namespace korvex::host
