#include "core/files.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <system_error>

#include "core/host_os.h"

namespace korvex::host {

namespace fs = std::filesystem;

namespace {

// Names korvex may try for the file it writes before the rename; a name
// taken by anything (a file, a link, a folder) is passed over.
constexpr int name_attempts = 100;

// The problem shared by files and folders: a path that names nothing.
std::string missing_problem(const std::string& path, fs::file_status& status) {
    if (std::string problem = unusable_path(path); !problem.empty()) return problem;
    std::error_code error;
    status = fs::status(native_path(path), error);
    if (!error) return {};
    if (error == std::errc::no_such_file_or_directory)
        return opens_as_device(path) ? "is a device, not a file" : "does not exist";
    if (error == std::errc::filename_too_long)
        return "has a path that is too long (" + error.message() + ")";
    if (error == std::errc::not_a_directory)
        return "does not exist (a part of its path is a file, not a folder)";
    return "cannot be examined (" + error.message() + ")";
}

}  // namespace

std::string file_problem(const std::string& path) {
    fs::file_status status;
    if (std::string problem = missing_problem(path, status); !problem.empty()) return problem;
    switch (status.type()) {
        case fs::file_type::regular:
            break;
        case fs::file_type::directory:
            return "is a folder";
        default:
            return "is a device, not a file";
    }
    if (std::string problem = unreadable_file_problem(path); !problem.empty()) return problem;
    std::error_code error;
    if (fs::file_size(native_path(path), error) == 0 && !error) return "is empty";
    return {};
}

std::string folder_problem(const std::string& path) {
    fs::file_status status;
    if (std::string problem = missing_problem(path, status); !problem.empty()) return problem;
    return fs::is_directory(status) ? std::string() : "is not a folder";
}

std::string folder_of(const std::string& file) {
    const auto slash = file.find_last_of(path_separator == '/' ? "/" : "/\\");
    return slash == std::string::npos ? std::string(".") : file.substr(0, slash + 1);
}

namespace {

// Why --force may not replace what stands at `path`, or empty: only a
// regular file is replaced, or a link, whose name alone the rename replaces.
std::string unreplaceable(const std::string& path) {
    std::error_code error;
    const auto standing = fs::symlink_status(native_path(path), error);
    switch (standing.type()) {
        case fs::file_type::not_found:
        case fs::file_type::regular:
        case fs::file_type::symlink:
            return {};
        case fs::file_type::directory:
            return path + " is a folder, which --force does not replace";
        case fs::file_type::fifo:
            return path + " is a FIFO, not a file: --force replaces only a file";
        case fs::file_type::socket:
            return path + " is a socket, not a file: --force replaces only a file";
        case fs::file_type::none:
            return path + " cannot be examined (" + error.message() + ")";
        default:
            return path + " is a device, not a file: --force replaces only a file";
    }
}

// The folders whose leftovers this run has removed already: each is looked
// at once however many files go there.
constinit std::array<std::size_t, 8> cleaned_folders{};
constinit std::size_t cleaned_count = 0;

void remove_leftovers_once(const std::string& folder) {
    const std::size_t key = std::hash<std::string>{}(folder);
    for (std::size_t at = 0; at < cleaned_count; ++at)
        if (cleaned_folders[at] == key) return;
    if (cleaned_count < cleaned_folders.size()) cleaned_folders[cleaned_count++] = key;
    remove_leftover_files(folder, temporary_prefix, leftover_quiet_seconds);
}

std::string temporary_name(const std::string& prefix) {
    char random[17] = {};
    std::snprintf(random, sizeof random, "%016llx",
                  static_cast<unsigned long long>(random_number()));
    return prefix + std::string(temporary_prefix) + std::to_string(own_process_id()) + "-" +
           random + ".tmp";
}

// Writes `source` into a new file of korvex's own in the folder of
// `targets`, then moves it to the first target that takes it; the name
// written is removed whenever it was not moved.
MoveResult write_and_move(const std::vector<std::string>& targets, const ByteSource& source,
                          bool replace, FileMode mode, std::string& placed, std::string& error) {
    if (replace)
        for (const auto& target : targets)
            if (std::string problem = unreplaceable(target); !problem.empty()) {
                error = std::move(problem);
                return MoveResult::failed;
            }
    // Same folder, so that the rename stays on one file system.
    const std::string folder = folder_of(targets.front());
    const std::string prefix = folder == "." ? std::string() : folder;  // "." for a bare name
    remove_leftovers_once(folder);
    std::string written;
    CreateResult created = CreateResult::name_taken;
    for (int attempt = 0; attempt < name_attempts && created == CreateResult::name_taken;
         ++attempt) {
        written = temporary_name(prefix);
        created = create_new_file(written, source, mode, error);
    }
    if (created != CreateResult::created) {
        if (created == CreateResult::name_taken) error = "every name korvex tried is taken";
        return MoveResult::failed;
    }
    MoveResult moved = MoveResult::target_exists;
    for (std::size_t at = 0; at < targets.size() && moved == MoveResult::target_exists; ++at) {
        placed = targets[at];
        moved = move_into_place(written, placed, replace, error);
    }
    if (moved != MoveResult::moved) {
        std::error_code ignored;
        fs::remove(native_path(written), ignored);
    }
    return moved;
}

}  // namespace

ByteSource bytes_source(std::string_view bytes) {
    return {bytes.size(),
            [bytes](std::uint64_t offset, char* into, std::size_t length,
                    std::string&) -> std::int64_t {
                if (offset >= bytes.size()) return 0;
                const std::size_t count =
                    std::min<std::size_t>(length, bytes.size() - static_cast<std::size_t>(offset));
                std::memcpy(into, bytes.data() + offset, count);
                return static_cast<std::int64_t>(count);
            }};
}

ByteSource file_source(const InputFile& file) {
    return {file.size(),
            [&file](std::uint64_t offset, char* into, std::size_t length, std::string& error) {
                return file.read_at(offset, into, length, error);
            }};
}

CreateResult create_new_file(const std::string& path, std::string_view bytes, FileMode mode,
                             std::string& error) {
    return create_new_file(path, bytes_source(bytes), mode, error);
}

MoveResult place_file(const std::string& path, std::string_view bytes, bool replace,
                      std::string& error, FileMode mode) {
    return place_file(path, bytes_source(bytes), replace, error, mode);
}

MoveResult place_file(const std::string& path, const ByteSource& source, bool replace,
                      std::string& error, FileMode mode) {
    std::string placed;
    return write_and_move({path}, source, replace, mode, placed, error);
}

MoveResult place_new_file(const std::vector<std::string>& paths, const ByteSource& source,
                          std::string& placed, std::string& error) {
    return write_and_move(paths, source, false, FileMode::plain, placed, error);
}

std::optional<std::uint32_t> process_id_in_name(std::string_view name, std::string_view prefix) {
    if (name.substr(0, prefix.size()) != prefix) return std::nullopt;
    std::uint64_t id = 0;
    std::size_t at = prefix.size();
    for (; at < name.size() && at < prefix.size() + 10 && name[at] >= '0' && name[at] <= '9'; ++at)
        id = id * 10 + static_cast<std::uint64_t>(name[at] - '0');
    if (at == prefix.size() || at >= name.size() || name[at] != '-' || id > UINT32_MAX)
        return std::nullopt;
    return static_cast<std::uint32_t>(id);
}

std::size_t remove_leftover_files(const std::string& folder, std::string_view prefix,
                                  std::uint64_t quiet_seconds) {
    // A name checked and then removed must not be swappable for another
    // user's file in between.
    if (folder_open_to_others(folder)) return 0;
    const std::string parent =
        folder.empty() || folder.back() == '/' || folder.back() == path_separator
            ? folder
            : folder + path_separator;
    std::size_t removed = 0;
    const FolderListing listing =
        list_folder_matching(folder, prefix, max_leftover_names, max_leftovers_removed);
    for (const FolderEntry& entry : listing.entries) {
        const auto process_id = process_id_in_name(entry.name, prefix);
        if (entry.kind != EntryKind::file || !process_id || !entry.name.ends_with(".tmp") ||
            !is_abandoned_file(parent + entry.name, *process_id, quiet_seconds))
            continue;
        std::error_code error;
        removed += fs::remove(native_path(parent + entry.name), error) ? 1 : 0;
    }
    return removed;
}

}  // namespace korvex::host
