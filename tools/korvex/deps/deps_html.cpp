#include "deps/deps_html.h"

#include <string_view>

#include "report/html_page.h"

namespace korvex::host {

namespace {

constexpr char style[] = {
#include "report/assets/deps.css.inc"
};

std::string_view deps_style() { return {style, sizeof style}; }

constexpr char script[] = {
#include "report/assets/deps.js.inc"
};

std::string_view deps_script() { return {script, sizeof script}; }

}  // namespace

std::string deps_html(const nlohmann::json& document) {
    return html_page({"korvex deps", deps_style(), deps_script()}, document);
}

}  // namespace korvex::host
