#include "call_counts.h"

#include <cstddef>

namespace korvex::micro {
namespace {
constinit CallCounts g_counts{};
}  // namespace

CallCounts call_counts() noexcept { return g_counts; }

}  // namespace korvex::micro

extern "C" {

void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* block, std::size_t size);
void* __real_memcpy(void* to, const void* from, std::size_t size);

void* __wrap_malloc(std::size_t size) {
    ++korvex::micro::g_counts.allocations;
    return __real_malloc(size);
}

void* __wrap_calloc(std::size_t count, std::size_t size) {
    ++korvex::micro::g_counts.allocations;
    return __real_calloc(count, size);
}

void* __wrap_realloc(void* block, std::size_t size) {
    ++korvex::micro::g_counts.allocations;
    return __real_realloc(block, size);
}

void* __wrap_memcpy(void* to, const void* from, std::size_t size) {
    ++korvex::micro::g_counts.block_copies;
    return __real_memcpy(to, from, size);
}

}  // extern "C"
