// Why a file or folder cannot be used, in words that name the cause. The
// library answers only a failure code; korvex asks the system itself.
#pragma once

#include <cstdint>
#include <string>

#include "image/byte_view.h"

namespace korvex::host {

#ifdef _WIN32
inline constexpr char path_separator = '\\';
#else
inline constexpr char path_separator = '/';
#endif

// The id of this korvex process, as the process list shows it.
std::uint32_t own_process_id();

// The system's own text for an errno (natively) or a GetLastError code (Windows).
std::string system_error_text(int code);

// Why `path` is not a file korvex can read ("does not exist", "is a folder",
// "is a device, not a file", ...), or empty when it is an ordinary file. A
// device or a pipe is never opened: reading one could wait forever.
std::string file_problem(const std::string& path);

// Why `path` is not an existing folder, or empty.
std::string folder_problem(const std::string& path);

// Why a file MapFile took for a PE image cannot be one: its headers (file
// header, optional header, section table) run past the end of the file. Empty
// when they are whole.
std::string pe_damage(image::ByteView file);

// The reason for a MapFile failure code on `path`, in words.
std::string map_failure(const std::string& path, std::int32_t code);

}  // namespace korvex::host
