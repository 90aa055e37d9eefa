// The least any inspection of a PE file must do: open and map it, touch the
// header page and every page of the sections that hold the import and export
// directories, unmap and close. Answers a sum of the bytes touched so the
// work cannot be optimised away.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvex::bench {

std::uint64_t touch_floor(const std::vector<std::string>& files);

}  // namespace korvex::bench
