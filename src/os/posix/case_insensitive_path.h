// Finding a file on a case-sensitive Linux file system by a name whose case
// may differ, the way Windows finds it on a case-insensitive one.
#pragma once

#include <string>

namespace korvex::os::posix {

// Resolves the absolute `path` one component at a time, taking the first of:
//   1. the component as written, when that name exists;
//   2. the component with A to Z made small, when that name exists;
//   3. of the directory's names that equal the component when the letters
//      a to z and A to Z are matched regardless of case (other bytes must be
//      equal), the lowest in byte order.
// Answers false, with `real` unspecified, when a component has no match or
// the path is not absolute.
bool resolve_case_insensitive(const char* path, std::string& real) noexcept;

}  // namespace korvex::os::posix
