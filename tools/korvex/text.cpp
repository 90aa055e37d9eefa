#include "text.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#endif

namespace korvex::host {

std::vector<std::string> split_name_list(const std::vector<char>& list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < list.size() && list[start] != '\0') {
        std::size_t end = start;
        while (end < list.size() && list[end] != '\0') ++end;
        names.emplace_back(list.data() + start, end - start);
        start = end + 1;
    }
    return names;
}

#ifdef _WIN32

namespace {

std::string narrow(const std::wstring& wide, UINT code_page, bool* lossy) {
    BOOL used_default = FALSE;
    const int length =
        WideCharToMultiByte(code_page, code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(),
                            static_cast<int>(wide.size()), nullptr, 0, nullptr,
                            code_page == CP_UTF8 ? nullptr : &used_default);
    std::string text(static_cast<std::size_t>(std::max(length, 0)), '\0');
    WideCharToMultiByte(code_page, code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.data(),
                        static_cast<int>(wide.size()), text.data(), length, nullptr, nullptr);
    if (lossy != nullptr) *lossy = used_default != FALSE;
    return text;
}

std::wstring widen(const std::string& text) {
    const int length =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

}  // namespace

std::string to_utf8(const std::string& text) { return narrow(widen(text), CP_UTF8, nullptr); }

std::filesystem::path native_path(const std::string& text) { return widen(text); }

std::string ansi_argument(const wchar_t* argument) {
    bool lossy = false;
    std::string spelled = narrow(argument, CP_ACP, &lossy);
    if (!lossy) return spelled;
    wchar_t alias[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(argument, alias, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return spelled;
    std::string short_spelling = narrow(std::wstring(alias, length), CP_ACP, &lossy);
    return lossy ? spelled : short_spelling;
}

#else

std::filesystem::path native_path(const std::string& text) { return text; }

std::string to_utf8(const std::string& text) {
    std::string utf8;
    utf8.reserve(text.size());
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = byte(i);
        // Length of the sequence this byte starts and the range its second
        // byte must lie in (which excludes overlong forms and surrogates).
        std::size_t length = 1;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
        else if (lead >= 0x80)
            length = 0;
        std::size_t valid = length == 0 ? 0 : 1;
        while (valid > 0 && valid < length && i + valid < text.size()) {
            const unsigned char next = byte(i + valid);
            if (next < (valid == 1 ? low : 0x80) || next > (valid == 1 ? high : 0xBF)) break;
            ++valid;
        }
        if (valid == length && length > 0) {
            utf8.append(text, i, length);
            i += length;
        } else {
            utf8 += "\xEF\xBF\xBD";
            i += std::max<std::size_t>(valid, 1);
        }
    }
    return utf8;
}

#endif

}  // namespace korvex::host
