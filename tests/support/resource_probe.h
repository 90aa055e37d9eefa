// What a process holds, measured from inside it, for the leak tests: bytes
// in use on the C runtime's heap and, on Windows, the value the next new
// handle gets and the process's private bytes.
#pragma once

#include <cstdint>

namespace korvex::test {

// Bytes in blocks the C runtime's heap has handed out and not taken back;
// -1 where it cannot be told. Exact, unlike the process's page counts.
std::int64_t heap_bytes_in_use();

#ifdef _WIN32
// Opens a fresh handle, closes it and answers its value. Handle values are
// handed out lowest free first, so a handle leaked in between takes the slot
// and a later probe answers another value.
std::uintptr_t probe_handle_value();

// The process's private bytes (GetProcessMemoryInfo's PrivateUsage).
std::uint64_t private_bytes();
#endif

}  // namespace korvex::test
