// Snapshot names, work-file names and work-file paths, with the limits the
// registry keeps them to.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvex::snapshot {

inline constexpr std::size_t snapshot_name_size = 51;       // 50 characters and the terminator
inline constexpr std::size_t work_file_name_size = 257;
inline constexpr std::size_t work_file_path_size = 516;     // 515 characters and the terminator
inline constexpr std::size_t work_directory_size = work_file_path_size;

// A caller's snapshot name as the registry keeps and compares it: its first
// 50 characters. The same cut applies to every export that takes a name, so
// an over-long name reaches the snapshot it registered.
struct SnapshotName {
    char text[snapshot_name_size];
};
SnapshotName snapshot_name_of(const char* given) noexcept;

// "snp", the counter zero-padded to five digits, ".wrk": snp00000.wrk.
void format_work_file_name(std::int32_t counter, char (&name)[work_file_name_size]) noexcept;

// The directory exactly as given, one backslash, the work-file name. False,
// with `path` empty, when the result would not fit in 515 characters: a cut
// path would name another file, so none is composed.
bool compose_work_file_path(const char* directory, const char* file_name,
                            char (&path)[work_file_path_size]) noexcept;

// Copies at most size - 1 characters of `text` and a terminator.
void copy_text_cut(const char* text, char* field, std::size_t size) noexcept;

}  // namespace korvex::snapshot
