// The files korvex reads and writes: why a path cannot be read before
// anything opens it, and the placing of every file korvex writes (reports,
// bundles, snapshots' copies): created exclusively under a name of korvex's
// own beside the destination, never through a link, then renamed into place.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/host_os.h"

namespace korvex::host {

// Why `path` is not a file korvex can read ("does not exist", "is a folder",
// "is a device, not a file", "is empty", ...), or empty when it is an
// ordinary file. A device or a pipe is never opened: reading one could wait
// forever.
std::string file_problem(const std::string& path);

// Why `path` is not an existing folder, or empty.
std::string folder_problem(const std::string& path);

// The folder part of a path, separator kept ("." for a bare name).
std::string folder_of(const std::string& file);

// Writes `bytes` to `path` as a new file beside it (created exclusively
// under a name of korvex's own, never through a link, flushed and checked)
// and renames that into place, replacing what stands at `path` only when
// `replace`: the rename replaces the name, so a link or a file with other
// names keeps what it held. On failure nothing half-written is left, and
// `error` says why in the system's words ("No space left on device").
MoveResult place_file(const std::string& path, std::string_view bytes, bool replace,
                      std::string& error, FileMode mode = FileMode::plain);

// As place_file, into the first of `paths` (all in one folder) at which
// nothing stands, never replacing anything; `placed` answers which.
// target_exists when every one is taken.
MoveResult place_new_file(const std::vector<std::string>& paths, std::string_view bytes,
                          std::string& placed, std::string& error);

}  // namespace korvex::host
