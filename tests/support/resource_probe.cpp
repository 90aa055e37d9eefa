#include "resource_probe.h"

#ifdef _WIN32
#include <windows.h>

#include <malloc.h>
#include <psapi.h>
#else
#include <malloc.h>
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVEX_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KORVEX_TEST_ASAN 1
#endif
#ifdef KORVEX_TEST_ASAN
#include <sanitizer/allocator_interface.h>
#endif
#endif

namespace korvex::test {

std::int64_t heap_bytes_in_use() {
#ifdef _WIN32
    // The C runtime's own walk of its heap: every block in use, counted.
    _HEAPINFO info{};
    std::int64_t used = 0;
    int status;
    while ((status = _heapwalk(&info)) == _HEAPOK)
        if (info._useflag == _USEDENTRY) used += static_cast<std::int64_t>(info._size);
    return status == _HEAPEND ? used : -1;
#elif defined(KORVEX_TEST_ASAN)
    // Under AddressSanitizer malloc is ASan's, which counts exactly.
    return static_cast<std::int64_t>(__sanitizer_get_current_allocated_bytes());
#else
    return static_cast<std::int64_t>(mallinfo2().uordblks);
#endif
}

#ifdef _WIN32
std::uintptr_t probe_handle_value() {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const auto value = reinterpret_cast<std::uintptr_t>(event);
    if (event != nullptr) CloseHandle(event);
    return value;
}

std::uint64_t private_bytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters))
        return 0;
    // Wine leaves PrivateUsage at 0 and reports the private commit as the
    // page-file usage, which Windows keeps equal to it.
    return counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
}
#endif

}  // namespace korvex::test
