#include "core/input_budget.h"

#include "core/diagnosis.h"

namespace korvex::host {

std::string InputBudget::refusal(std::uint64_t file_size) {
    return "is hostile: what korvex would keep of it passes the memory ceiling for one file, "
           "16 x its size + 64 MiB (" +
           with_thousands(ceiling(file_size)) + " bytes)";
}

}  // namespace korvex::host
