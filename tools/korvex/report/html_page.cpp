#include "report/html_page.h"

#include "report/html_assets.h"

namespace korvex::host {

std::string script_json(const nlohmann::json& document) {
    // Every text korvex puts in a document is valid UTF-8 already; replace
    // only keeps a stray byte from stopping the page.
    const std::string text =
        document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string escaped;
    escaped.reserve(text.size() + text.size() / 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '<') {
            escaped += "\\u003c";
        } else if (c == '>') {
            escaped += "\\u003e";
        } else if (c == '&') {
            escaped += "\\u0026";
        } else if (c == '\xE2' && i + 2 < text.size() && text[i + 1] == '\x80' &&
                   (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
            // Line breaks to older script parsers, whatever JSON says.
            escaped += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string html_page(const HtmlPage& page, const nlohmann::json& document) {
    std::string html;
    // The policy forbids every request (scripts, styles, images, fonts,
    // frames, connections) but the page's own inline style and script: a
    // report opened from a mail or a share never reaches the network.
    html +=
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
        "script-src 'unsafe-inline'; style-src 'unsafe-inline'; base-uri 'none'; "
        "form-action 'none'\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    html += page.title;
    html += "</title>\n<style>\n";
    html += shared_report_style();
    html += page.style;
    html += "</style>\n</head>\n<body>\n<header><h1>";
    html += page.title;
    html +=
        "</h1><p id=\"counts\"></p></header>\n<main id=\"report\"><noscript>This report is drawn "
        "by its script: allow JavaScript for this file to see it.</noscript></main>\n"
        "<script type=\"application/json\" id=\"korvex-data\">";
    html += script_json(document);
    html += "</script>\n<script>\n";
    html += shared_report_script();
    html += page.script;
    html += "</script>\n</body>\n</html>\n";
    return html;
}

}  // namespace korvex::host
