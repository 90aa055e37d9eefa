// The snapshot side's allocations counted through the storage failure seam:
// a failure set further off than any call reaches counts down once per
// allocation, and what is left of it tells how many were made.
#pragma once

#include <climits>

#include "test_seams.h"

namespace korvex::test {

template <typename Run>
long storage_allocations_of(Run&& run) {
    snapshot::fail_storage_after(LONG_MAX);
    run();
    return LONG_MAX - snapshot::fail_storage_after(0);
}

}  // namespace korvex::test
