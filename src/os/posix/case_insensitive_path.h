// Finding a file on a case-sensitive Linux file system by a name whose case
// may differ, the way Windows finds it on a case-insensitive one.
#pragma once

#include <string>

namespace korvex::os::posix {

// Resolves the absolute `path` one component at a time: a component that
// exists as written is taken as it is; otherwise the directory is searched for
// names equal to it when the letters a to z and A to Z are matched regardless
// of case (other bytes must be equal), and the lowest such name in byte order
// is taken. Answers false, with `real` unspecified, when a component has no
// match or the path is not absolute.
bool resolve_case_insensitive(const char* path, std::string& real) noexcept;

}  // namespace korvex::os::posix
