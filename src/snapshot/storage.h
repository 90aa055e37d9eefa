// Heap storage for the snapshot tables and the registry. Every allocation of
// the snapshot side goes through here, so that tests can make the n-th one fail.
#pragma once

#include <cstddef>

namespace korvex::snapshot {

// malloc and free of the C runtime; null when no storage can be had.
void* obtain_storage(std::size_t bytes) noexcept;
void release_storage(void* block) noexcept;

// Test hook: the `countdown`-th allocation from now fails (1 = the next one),
// and every later one succeeds again. 0 switches the hook off.
void fail_storage_after(long countdown) noexcept;

// Number of allocations made so far, for tests that walk every failure point.
long storage_allocations() noexcept;

// Blocks obtained and not yet released: 0 whenever the tables are empty, the
// registry holds no entry and no capture runs. Leak tests compare it across
// many rounds of calls.
long storage_blocks_in_use() noexcept;

}  // namespace korvex::snapshot
