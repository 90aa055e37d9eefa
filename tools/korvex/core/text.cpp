#include "core/text.h"

#include <cstdio>

namespace korvex::host {

std::string lower_ascii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool matches_pattern(std::string_view text, std::string_view pattern) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    // Greedy matching with one back-track point, the last star seen: linear
    // in practice and never worse than text times pattern.
    std::size_t t = 0, p = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(text[t]))) {
            ++t, ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++, resume = t;
        } else if (star != std::string::npos) {
            p = star + 1, t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string terminal_text(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // "\x" in a name is doubled only where it could be read as an escape.
        const bool looks_escaped = byte == '\\' && i + 1 < text.size() && text[i + 1] == 'x';
        if (byte < 0x20 || byte == 0x7F) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            shown += escape;
        } else {
            shown += static_cast<char>(byte);
            if (looks_escaped) shown += '\\';
        }
    }
    return shown;
}

std::string count_of(std::size_t count, const char* singular, const char* plural) {
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

std::string with_thousands(std::uint64_t number) {
    std::string digits = std::to_string(number);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

}  // namespace korvex::host
