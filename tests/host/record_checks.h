// What every record of a real capture must look like, checked from outside
// the library with our own reading of the record layouts and the order:
// texts terminated inside their fields, dates and times in their formats,
// modules belonging to a listed process, both tables sorted in byte order.
// Each check answers an empty text when the records hold, or what is wrong.
#pragma once

#include <string>
#include <vector>

#include "korvex32.h"

namespace korvex::host_test {

std::string process_problems(const std::vector<ProcessRecord>& processes);
std::string module_problems(const std::vector<ModuleRecord>& modules,
                            const std::vector<ProcessRecord>& processes);

}  // namespace korvex::host_test
