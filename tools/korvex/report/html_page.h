// The page every HTML report of korvex is: one self-contained file (its
// style and script inline, nothing fetched) whose script draws the report
// from the command's own JSON document, which the page carries as data. The
// page shows exactly what --json prints, and no text from a file ever
// becomes markup: the script puts texts into the page as text nodes.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace korvex::host {

// The document as the content of a <script type="application/json"> block:
// compact JSON in which every "<", ">" and "&", and the line and paragraph
// separators U+2028 and U+2029, are written as \u escapes. Those characters
// can only stand inside JSON strings, so JSON.parse gives back the same
// document, and no name can close the block, open a comment or start a tag.
std::string script_json(const nlohmann::json& document);

// What one kind of report adds to the shared frame. The texts are korvex's
// own; none comes from the data. A kind's style and script are files in
// report/assets/, built in as bytes (tools/korvex/CMakeLists.txt).
struct HtmlPage {
    std::string_view title;   // "korvex deps"
    std::string_view style;   // CSS after the shared rules
    std::string_view script;  // run after the shared script (report/assets/report.js)
};

// The whole page. The same document gives the same bytes on every run: the
// page holds no time or other value of its own.
std::string html_page(const HtmlPage& page, const nlohmann::json& document);

}  // namespace korvex::host
