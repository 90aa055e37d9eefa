#include "deps/deps_html.h"

#include <string_view>

#include "report/html_page.h"

namespace korvex::host {

namespace {

constexpr char deps_css[] = {
#include "report/assets/deps.css.inc"
};

std::string_view deps_style() { return {deps_css, sizeof deps_css}; }

constexpr char deps_js[] = {
#include "report/assets/deps.js.inc"
};

std::string_view deps_script() { return {deps_js, sizeof deps_js}; }

}  // namespace

std::string deps_html(const nlohmann::json& document) {
    return html_page({"korvex deps", deps_style(), deps_script()}, document);
}

}  // namespace korvex::host
