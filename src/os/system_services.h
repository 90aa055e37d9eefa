// Process termination and the OS version record, as the platform gives them.
#pragma once

#include <cstdint>

namespace korvex::os {

// Opens the process with all access (inheritable handle) and terminates it with
// exit code 0. Nonzero when the platform accepted the request.
std::int32_t terminate_process(std::uint32_t process_id) noexcept;

// Fills the caller's 148-byte OSVERSIONINFOA and answers the platform's result.
std::int32_t get_version_record(void* info) noexcept;

}  // namespace korvex::os
