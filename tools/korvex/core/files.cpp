#include "core/files.h"

#include <filesystem>
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

// Writes `bytes` into a new file of korvex's own in the folder of
// `targets`, then moves it to the first target that takes it; the name
// written is removed whenever it was not moved.
MoveResult write_and_move(const std::vector<std::string>& targets, std::string_view bytes,
                          bool replace, FileMode mode, std::string& placed, std::string& error) {
    // Same folder, so that the rename stays on one file system.
    const std::string folder = folder_of(targets.front());
    const std::string prefix = folder == "." ? std::string() : folder;  // "." for a bare name
    std::string written;
    CreateResult created = CreateResult::name_taken;
    for (int attempt = 0; attempt < name_attempts && created == CreateResult::name_taken;
         ++attempt) {
        written = prefix + ".korvex-" + std::to_string(own_process_id()) + "-" +
                  std::to_string(attempt) + ".tmp";
        created = create_new_file(written, bytes, mode, error);
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

MoveResult place_file(const std::string& path, std::string_view bytes, bool replace,
                      std::string& error, FileMode mode) {
    std::string placed;
    return write_and_move({path}, bytes, replace, mode, placed, error);
}

MoveResult place_new_file(const std::vector<std::string>& paths, std::string_view bytes,
                          std::string& placed, std::string& error) {
    return write_and_move(paths, bytes, false, FileMode::plain, placed, error);
}

}  // namespace korvex::host
