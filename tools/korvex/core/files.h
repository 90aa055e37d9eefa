// The files korvex reads and writes: why a path cannot be read before
// anything opens it, and the placing of every file korvex writes (reports,
// bundles, snapshots' copies): created exclusively under a name of korvex's
// own beside the destination, never through a link, then renamed into place.
#pragma once

#include <cstdint>
#include <optional>
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
//
// The name written first is ".korvex-PID-RANDOM.tmp": 64 random bits, so that
// no other user can take every name korvex would try. Before it writes, a run
// removes what killed runs of this user left there under that pattern
// (remove_leftover_files). With `replace`, only a regular file (or a link,
// whose name alone is replaced) is replaced: a folder, FIFO, socket or device
// at `path` is refused with the reason, and nothing is written.
MoveResult place_file(const std::string& path, std::string_view bytes, bool replace,
                      std::string& error, FileMode mode = FileMode::plain);
MoveResult place_file(const std::string& path, const ByteSource& source, bool replace,
                      std::string& error, FileMode mode = FileMode::plain);

// As place_file, into the first of `paths` (all in one folder) at which
// nothing stands, never replacing anything; `placed` answers which.
// target_exists when every one is taken.
MoveResult place_new_file(const std::vector<std::string>& paths, const ByteSource& source,
                          std::string& placed, std::string& error);

// The start of every name place_file writes before its rename.
inline constexpr std::string_view temporary_prefix = ".korvex-";

// How long a file left under that prefix must have lain unwritten before a
// later run removes it: longer than any write pauses, so that a run of
// another machine writing into a shared folder (whose process id means
// nothing here) is never disturbed.
inline constexpr std::uint64_t leftover_quiet_seconds = 600;

// Removes from `folder` the files of this user's earlier runs that were
// killed between writing and renaming them (is_abandoned_file), looking at
// the first max_leftover_names names of the folder and removing at most
// max_leftovers_removed files, so that a folder of millions of entries costs
// a bounded time. Answers how many were removed.
inline constexpr std::size_t max_leftover_names = 100'000;
inline constexpr std::size_t max_leftovers_removed = 1'000;
std::size_t remove_leftover_files(const std::string& folder, std::string_view prefix,
                                  std::uint64_t quiet_seconds);

// The process id a name of `prefix` followed by digits and "-" carries, or
// nothing when it is not such a name.
std::optional<std::uint32_t> process_id_in_name(std::string_view name, std::string_view prefix);

}  // namespace korvex::host
