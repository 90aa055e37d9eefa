#include "snapshot/storage.h"

#include <cstdlib>

namespace korvex::snapshot {

namespace {
constinit long g_countdown = 0;
constinit long g_allocations = 0;
constinit long g_in_use = 0;
}  // namespace

void* obtain_storage(std::size_t bytes) noexcept {
    ++g_allocations;
    if (g_countdown > 0 && --g_countdown == 0) return nullptr;
    void* block = std::malloc(bytes);
    if (block != nullptr) ++g_in_use;
    return block;
}

void release_storage(void* block) noexcept {
    if (block == nullptr) return;
    --g_in_use;
    std::free(block);
}

void fail_storage_after(long countdown) noexcept { g_countdown = countdown; }

long storage_allocations() noexcept { return g_allocations; }

long storage_blocks_in_use() noexcept { return g_in_use; }

}  // namespace korvex::snapshot
