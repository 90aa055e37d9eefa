// The order of a snapshot's records: processes by executable file name, then
// directory; modules by short name, then short path. Texts compare in plain
// byte order (unsigned bytes, the first difference decides, a prefix first),
// and nothing is upper-cased for the comparison.
#pragma once

#include <cstddef>

#include "korvex32.h"

namespace korvex::snapshot {

// Room for either part of a whole szExeFile: 260 bytes of text, read up to
// the field's end when no terminator comes first, and a terminator. Names
// of up to 259 characters without a directory therefore compare whole.
inline constexpr std::size_t path_part_size = 261;

// Splits `path` (read up to its terminator or 260 characters) at its last
// backslash or colon. After a backslash at position i the name is the rest
// and the directory the first i characters (the backslash belongs to
// neither); after a colon the directory keeps the colon; with neither, the
// directory is empty and the name is the whole path.
void SplitPath(const char* path, char (&directory)[path_part_size],
               char (&file_name)[path_part_size]) noexcept;

// Negative, 0 or positive when `a` sorts before, with or after `b`. The
// process comparison splits both paths into shared process-global scratch,
// so one comparison runs at a time.
int CompareProcessRecords(const ProcessRecord& a, const ProcessRecord& b) noexcept;
int CompareModuleRecords(const ModuleRecord& a, const ModuleRecord& b) noexcept;

// Sort the current tables in place, ascending. The sorts are stable: records
// that compare equal keep the order in which the capture appended them,
// which is the order the platform listed them in.
void sort_process_table() noexcept;
void sort_module_table() noexcept;

}  // namespace korvex::snapshot
