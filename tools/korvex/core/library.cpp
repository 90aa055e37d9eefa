#include "core/library.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "core/files.h"
#include "core/host_os.h"

namespace korvex::host {

bool load_library(Library& library, std::string& error) {
    library.path = folder_of_this_program() + library_file_name;
    void* module = open_library(library.path, error);
    if (module == nullptr) return false;
    library.version = library_version(library.path);
    const char* missing = bind_exports(library, [&](int ordinal, const char* name) {
        return find_library_export(module, ordinal, name);
    });
    if (missing != nullptr) error = std::string("the library has no export ") + missing;
    return missing == nullptr;
}

namespace {

constexpr const char* scratch_stem = "korvex-";
constexpr std::size_t max_scratch_names = 100'000;
constexpr std::size_t max_scratch_examined = 1'000;

// Removes the scratch folders (korvex-PID-...) that runs of this user ended
// by SIGKILL, a crash or a power cut left in `parent`; a folder whose run
// still goes on, or that is not this user's, stays. Only names of korvex's
// are examined, and only so many: another user may fill a shared temporary
// folder with hundreds of thousands of entries, which must not slow every run.
void remove_abandoned_scratch(const std::string& parent) {
    const FolderListing listing =
        list_folder_matching(parent, scratch_stem, max_scratch_names, max_scratch_examined);
    for (const FolderEntry& entry : listing.entries) {
        if (entry.kind != EntryKind::folder) continue;
        const auto process_id = process_id_in_name(entry.name, scratch_stem);
        if (process_id && is_abandoned_scratch(parent + entry.name, *process_id)) {
            std::error_code ignored;
            std::filesystem::remove_all(native_path(parent + entry.name), ignored);
        }
    }
}

}  // namespace

PrivateFolder::PrivateFolder() {
    std::string parent = temporary_folder();
    if (!parent.empty() && parent.back() != '/' && parent.back() != '\\') parent += path_separator;
    if (folder_open_to_others(parent)) {
        error_ = "the temporary folder " + parent +
                 " may be changed by other users and is not sticky; set TMPDIR to a folder of "
                 "your own";
        return;
    }
    remove_abandoned_scratch(parent);
    create_private_folder(parent + scratch_stem, path_, error_);
}

PrivateFolder::~PrivateFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(native_path(path_), ignored);
}

namespace {

template <typename Record, typename Read>
bool read_pages(Read read, std::int32_t rows, std::uint32_t count, std::vector<Record>& out) {
    out.reserve(count);
    std::vector<Record> page(
        std::max<std::size_t>(1, std::min<std::size_t>(count, static_cast<std::size_t>(rows))));
    while (out.size() < count) {
        const std::size_t expected = std::min(page.size(), count - out.size());
        const std::int32_t copied = read(page.data());
        if (copied < 1 || static_cast<std::size_t>(copied) != expected) return false;
        out.insert(out.end(), page.begin(), page.begin() + copied);
    }
    return read(page.data()) == KORVEX_READ_END;
}

bool read_count(const InputFile& in, std::uint64_t offset, std::uint32_t& count) {
    unsigned char bytes[4] = {};
    std::string ignored;
    if (in.read_at(offset, bytes, sizeof bytes, ignored) != sizeof bytes) return false;
    const std::uint32_t value =
        bytes[0] | bytes[1] << 8 | bytes[2] << 16 | std::uint32_t{bytes[3]} << 24;
    if (value > 0x7FFFFFFF) return false;
    count = value;
    return true;
}

}  // namespace

bool read_record_counts(const InputFile& work_file, RecordCounts& counts) {
    return read_count(work_file, 0, counts.processes) &&
           read_count(work_file, 4 + std::uint64_t{sizeof(ProcessRecord)} * counts.processes,
                      counts.modules);
}

bool read_record_counts(const std::string& work_file, RecordCounts& counts) {
    InputFile in;
    std::string ignored;
    return in.open(work_file, false, ignored) && read_record_counts(in, counts);
}

std::uint64_t work_file_size(const RecordCounts& counts) {
    return 8 + std::uint64_t{sizeof(ProcessRecord)} * counts.processes +
           std::uint64_t{sizeof(ModuleRecord)} * counts.modules;
}

bool read_snapshot(const Library& library, std::int32_t rows, const RecordCounts& counts,
                   SnapshotPages& pages) {
    library.set_rows_per_call(rows);
    library.select_process(0);
    return read_pages(library.read_processes, rows, counts.processes, pages.processes) &&
           read_pages(library.read_modules, rows, counts.modules, pages.modules);
}

std::string work_file_of(const Library& library, const std::string& name, bool create) {
    // The name buffer: the name on entry, the work-file path on return.
    char buffer[KORVEX_WORKFILE_PATH_SIZE] = {};
    name.copy(buffer, KORVEX_MAX_SNAPSHOT_NAME);
    const std::int32_t result =
        create ? library.new_work_file(buffer) : library.get_work_file(buffer);
    return result == KORVEX_OK ? std::string(buffer) : std::string();
}

bool load_work_file(const Library& library, const std::string& path, std::int32_t rows,
                    SnapshotPages& pages, std::string& error) {
    // The file is examined and read through one handle: what is put at its
    // path after the check (a FIFO, a link) is never what is read.
    InputFile in;
    std::string problem = file_problem(path);
    if (problem.empty() && !in.open(path, true, problem) && problem.empty())
        problem = "cannot be opened";
    if (problem.empty() && in.size() == 0) problem = "is empty";
    if (!problem.empty()) {
        error = path + " " + problem +
                (problem == "is a folder"
                     ? ": name a work file in it (" + path + path_separator + "*.wrk)."
                     : ".");
        return false;
    }
    // The counts say how much to copy: a file far larger than they need
    // (a sparse gigabyte) costs no more than its records.
    const std::uint64_t size = in.size();
    RecordCounts stated;
    if (!read_record_counts(in, stated)) {
        error = path +
                " is not a valid work file: it is shorter than its record counts say, or a count "
                "is negative.";
        return false;
    }
    const std::uint64_t needed = work_file_size(stated);
    const std::string announced = std::to_string(stated.processes) + " processes and " +
                                  std::to_string(stated.modules) + " modules";
    if (needed > size) {
        error = path + " is not a valid work file: its record counts (" + announced + ") need " +
                std::to_string(needed) + " bytes, and it holds " + std::to_string(size) + ".";
        return false;
    }
    if (needed > largest_work_file) {
        error = path + " holds " + announced + " (" + std::to_string(needed) +
                " bytes): more than korvex reads (at most " +
                std::to_string(largest_work_file >> 20) + " MiB).";
        return false;
    }
    const PrivateFolder scratch;
    if (!scratch.created()) {
        error = "no scratch folder can be created (" + scratch.error() + ").";
        return false;
    }
    library.init_snapshots(work_directory_argument(scratch.path()).c_str());
    const std::string name = "show";
    const std::string placed = work_file_of(library, name, true);
    std::string copy_error;
    // Streamed from the handle: the records and nothing past them.
    ByteSource records = file_source(in);
    records.size = needed;
    if (create_new_file(placed, records, FileMode::plain, copy_error) != CreateResult::created) {
        error = path + " could not be copied into " + scratch.path() + " (" + copy_error + ").";
        return false;
    }
    RecordCounts counts;
    const bool read = library.select_snapshot(name.c_str()) == KORVEX_OK &&
                      read_record_counts(placed, counts) &&
                      read_snapshot(library, rows, counts, pages);
    library.delete_snapshot(name.c_str());
    if (!read)
        error = path +
                " is not a valid work file: it is shorter than its record counts say, or a count "
                "is negative.";
    return read;
}

bool take_and_read(const Library& library, const std::string& folder, const std::string& name,
                   bool versions, std::int32_t rows, SnapshotPages& pages, std::string& work_file,
                   std::string& error) {
    library.init_snapshots(work_directory_argument(folder).c_str());
    library.set_get_version_number(versions ? 1 : 0);
    const std::int32_t saved = library.take_snapshot(name.c_str());
    work_file = work_file_of(library, name, false);
    RecordCounts counts;
    if (saved == KORVEX_OK && read_record_counts(work_file, counts) &&
        read_snapshot(library, rows, counts, pages))
        return true;
    error = "the work file could not be written in " + folder + " (TakeSnapShot answered " +
            std::to_string(saved) + ")";
    return false;
}

}  // namespace korvex::host
