#include "pe/input_budget.h"

#include "core/text.h"

namespace korvex::host {

std::string InputBudget::refusal(std::uint64_t file_size) {
    return "is hostile: what korvex would keep of it passes the memory ceiling for one file, "
           "16 x its size + 64 MiB (" +
           with_thousands(ceiling(file_size)) + " bytes)";
}

std::string name_too_long(const char* what) {
    return std::string("is damaged: ") + what + " is longer than " +
           with_thousands(max_name_bytes) + " bytes, the limit for any name";
}

std::string too_many(const char* what, std::size_t limit, const char* items) {
    return std::string("is hostile: ") + what + " more than " + with_thousands(limit) + " " +
           items + ", the limit per file";
}

}  // namespace korvex::host
