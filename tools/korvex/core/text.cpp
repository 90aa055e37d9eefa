#include "core/text.h"

#include <algorithm>
#include <cstdio>

#include "core/host_os.h"

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

namespace {

// The length of the UTF-8 sequence at `at` and its code point, or 0 when no
// valid sequence starts there (a stray byte, one cut short, an overlong or
// surrogate form).
std::size_t utf8_sequence(std::string_view text, std::size_t at, char32_t& code) {
    const auto byte = [&](std::size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
    };
    const unsigned lead = byte(0);
    std::size_t length = 0;
    unsigned low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, code = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, code = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, code = lead & 0x07;
    else
        return 0;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned next = byte(i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
        code = code << 6 | (next & 0x3F);
    }
    return length;
}

bool is_control(char32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x061C || code == 0x200E ||
           code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
           (code >= 0x2066 && code <= 0x2069);
}

// Calls `unit(at, length, control)` for each character of `text`: a UTF-8
// sequence, or a byte that begins none (then a control when it is 0x80-0x9F,
// which a terminal reading 8-bit text takes for C1).
template <typename Unit>
void each_unit(std::string_view text, Unit unit) {
    for (std::size_t at = 0; at < text.size();) {
        char32_t code = 0;
        std::size_t length = utf8_sequence(text, at, code);
        if (length == 0) length = 1, code = static_cast<unsigned char>(text[at]);
        unit(at, length, is_control(code));
        at += length;
    }
}

void append_escaped(std::string& out, std::string_view bytes) {
    for (const char c : bytes) {
        char escape[5];
        std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(c));
        out += escape;
    }
}

}  // namespace

std::string terminal_text(std::string_view name) {
    bool quoted = !name.empty() && name.front() == '"';
    each_unit(name, [&](std::size_t, std::size_t, bool control) { quoted = quoted || control; });
    if (!quoted) return std::string(name);
    std::string shown = "\"";
    each_unit(name, [&](std::size_t at, std::size_t length, bool control) {
        const std::string_view part = name.substr(at, length);
        if (control)
            append_escaped(shown, part);
        else if (part == "\"" || part == "\\")
            shown.append(1, '\\').append(part);
        else
            shown += part;
    });
    return shown + '"';
}

std::string terminal_line(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    each_unit(text, [&](std::size_t at, std::size_t length, bool control) {
        if (control)
            append_escaped(shown, text.substr(at, length));
        else
            shown += text.substr(at, length);
    });
    return shown;
}

bool windows_name_less(std::string_view a, std::string_view b) {
    const auto upper = [](char c) {
        return static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    };
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i)
        if (upper(a[i]) != upper(b[i])) return upper(a[i]) < upper(b[i]);
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

std::string joined_path(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/' || folder.back() == path_separator) return folder + name;
    const bool forward = path_separator != '/' && folder.find('/') != std::string::npos &&
                         folder.find(path_separator) == std::string::npos;
    return folder + (forward ? '/' : path_separator) + name;
}

std::string usage_sentence(std::string_view what, std::string_view command) {
    std::string sentence(what);
    while (!sentence.empty() && (sentence.back() == '.' || sentence.back() == ' '))
        sentence.pop_back();
    // A capital that starts a word of prose, not a name such as FILE.
    if (sentence.size() > 1 && sentence[0] >= 'A' && sentence[0] <= 'Z' && sentence[1] >= 'a' &&
        sentence[1] <= 'z')
        sentence[0] = static_cast<char>(sentence[0] - 'A' + 'a');
    const std::string help =
        command.empty() ? "korvex --help" : "korvex " + std::string(command) + " --help";
    return sentence + " (see " + help + ").";
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
