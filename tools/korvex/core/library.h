// korvex's one face of korvex32: the library loaded from beside this
// program with every export bound (by ordinal on Windows, as hosts written
// against the DLL do; by name from the native shared library), and the
// snapshot exports as korvex uses them: a snapshot taken or a work file
// loaded, and read out of the library page by page. The image exports'
// name lists are read through pe/library_lists.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/host_os.h"
#include "export_table.h"

namespace korvex::host {

// Every export (export_table.h), the file loaded and its version record.
struct Library : ExportFunctions {
    std::string path;     // the file loaded
    std::string version;  // its version record ("4.0.0.0"); empty natively, where there is none
};

// Loads the library that sits next to this program and binds every export.
// On failure answers false and says why in `error`.
bool load_library(Library& library, std::string& error);

// A folder that belongs to one run of korvex alone, in the system's
// temporary folder, for the work files it writes and reads: nothing korvex
// writes goes through a path another user could have prepared.
// Made new for this run (mkdtemp natively, a new name created with
// CreateDirectory on Windows, which fails rather than reuse an existing one),
// named korvex-PID-..., and removed with everything in it on destruction.
// Making one first removes the folders of this user's earlier runs that
// were killed before they could remove their own (is_abandoned_scratch).
// Refused when the temporary folder is open to other users (not sticky).
class PrivateFolder {
public:
    PrivateFolder();
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    [[nodiscard]] bool created() const { return !path_.empty(); }
    [[nodiscard]] const std::string& path() const { return path_; }
    // Why it could not be created.
    [[nodiscard]] const std::string& error() const { return error_; }

private:
    std::string path_;
    std::string error_;
};

struct SnapshotPages {
    std::vector<ProcessRecord> processes;
    std::vector<ModuleRecord> modules;
};

struct RecordCounts {
    std::uint32_t processes = 0;
    std::uint32_t modules = 0;
};

// The record counts a work file states; false when it is too short to hold
// them. Read from korvex's own copy of the file, the one the library loads.
bool read_record_counts(const std::string& work_file, RecordCounts& counts);
bool read_record_counts(const InputFile& work_file, RecordCounts& counts);

// Reads every record of the current snapshot, `rows` per call, knowing how
// many there are: a paged read answers 100 both for a full page of 100 and
// for the end, and only the count tells them apart. No page is larger than
// the records left, whatever `rows` is. False when the library's answers do
// not add up to the counts.
bool read_snapshot(const Library& library, std::int32_t rows, const RecordCounts& counts,
                   SnapshotPages& pages);

// The path of snapshot `name`'s work file (registering a new one with `create`).
std::string work_file_of(const Library& library, const std::string& name, bool create);

// The largest work file korvex reads: 256 MiB, some 800,000 module records,
// far beyond any system's, and little enough for the 32-bit korvex to hold
// twice.
inline constexpr std::uint64_t largest_work_file = std::uint64_t{256} << 20;

// The bytes a work file of `counts` holds, trailing bytes left out.
std::uint64_t work_file_size(const RecordCounts& counts);

// Reads the work file at `path` through the library: registers a snapshot in
// a private folder, places a copy of the bytes its record counts announce
// at its path and selects it. Before anything is copied, the counts are
// checked against the file's size and against largest_work_file; bytes
// after the last record are not copied (the library ignores them). False
// with a sentence in `error` when the file cannot be read or is no valid
// work file.
bool load_work_file(const Library& library, const std::string& path, std::int32_t rows,
                    SnapshotPages& pages, std::string& error);

// Takes a snapshot whose work file goes into `folder` and reads it back. False
// with `error` when the work file could not be written or read.
bool take_and_read(const Library& library, const std::string& folder, const std::string& name,
                   bool versions, std::int32_t rows, SnapshotPages& pages, std::string& work_file,
                   std::string& error);

}  // namespace korvex::host
