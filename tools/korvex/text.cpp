#include "text.h"

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

std::string to_utf8(const std::string& ansi) {
    std::string utf8;
    utf8.reserve(ansi.size());
    for (const unsigned char byte : ansi) {
        if (byte < 0x80) {
            utf8 += static_cast<char>(byte);
        } else {
            utf8 += static_cast<char>(0xC0 | byte >> 6);
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

}  // namespace korvex::host
