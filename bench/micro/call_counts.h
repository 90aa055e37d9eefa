// Counts of the C runtime calls made by the library's own code during a
// micro-benchmark. The micro-benchmark program is linked with
// --wrap=malloc,calloc,realloc,memcpy: the library's objects are linked into
// it directly, so their calls reach the counters below, while the calls of
// the benchmark framework and the C++ runtime (shared libraries) do not.
#pragma once

#include <cstdint>

namespace korvex::micro {

struct CallCounts {
    std::uint64_t allocations = 0;   // malloc, calloc and realloc
    std::uint64_t block_copies = 0;  // memcpy calls that were not inlined
};

CallCounts call_counts() noexcept;

}  // namespace korvex::micro
