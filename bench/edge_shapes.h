// Images made to be large in one dimension at a time, for the benchmark of the
// slowest files: whatever grows, a listing must stay linear in the file.
#pragma once

#include <string>
#include <vector>

namespace korvex::bench {

// Writes the images into `folder` and answers their paths.
std::vector<std::string> write_edge_shapes(const std::string& folder);

}  // namespace korvex::bench
