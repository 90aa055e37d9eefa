#include "snapshot/storage.h"

#include <cstdlib>

namespace korvex::snapshot {

namespace {
constinit long g_countdown = 0;
constinit long g_allocations = 0;
}  // namespace

void* obtain_storage(std::size_t bytes) noexcept {
    ++g_allocations;
    if (g_countdown > 0 && --g_countdown == 0) return nullptr;
    return std::malloc(bytes);
}

void release_storage(void* block) noexcept { std::free(block); }

void fail_storage_after(long countdown) noexcept { g_countdown = countdown; }

long storage_allocations() noexcept { return g_allocations; }

}  // namespace korvex::snapshot
