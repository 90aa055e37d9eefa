#include <cstdio>
#include <filesystem>
#include <system_error>

#include "commands.h"
#include "output.h"
#include "snapshot_reading.h"

namespace korvex::host {

namespace {

namespace fs = std::filesystem;

// The library joins the work directory and the file name with a backslash.
// Windows takes that as a separator; elsewhere a trailing "/" keeps the file
// inside the directory (named "\snpNNNNN.wrk").
std::string work_directory_argument(const std::string& directory) {
#ifdef _WIN32
    return directory;
#else
    return directory.empty() || directory.back() == '/' ? directory : directory + "/";
#endif
}

std::string default_work_directory() {
    std::error_code error;
    const fs::path folder = fs::temp_directory_path(error) / "korvex";
    fs::create_directories(folder, error);
    return folder.string();
}

// The name buffer: the name on entry, the work-file path on return.
std::string work_file_of(const Library& library, const std::string& name, bool create) {
    char buffer[KORVEX_WORKFILE_PATH_SIZE] = {};
    name.copy(buffer, KORVEX_MAX_SNAPSHOT_NAME);
    const std::int32_t result = create ? library.new_work_file(buffer) : library.get_work_file(buffer);
    return result == KORVEX_OK ? std::string(buffer) : std::string();
}

void print_pages(const SnapshotPages& pages, std::uint32_t process) {
    std::vector<ProcessRecord> shown;
    for (const auto& p : pages.processes)
        if (process == 0 || p.th32ProcessID == process) shown.push_back(p);
    std::printf("%zu processes\n", shown.size());
    print_processes(stdout, shown);
    std::printf("\n%zu modules\n", pages.modules.size());
    print_modules(stdout, pages.modules);
}

nlohmann::json pages_json(const SnapshotPages& pages, std::uint32_t process) {
    SnapshotPages shown = pages;
    if (process != 0)
        std::erase_if(shown.processes, [&](const ProcessRecord& p) { return p.th32ProcessID != process; });
    return snapshot_json(shown);
}

}  // namespace

int run_snapshot(const Library& library, const SnapshotOptions& options) {
    const std::string directory =
        options.directory.empty() ? default_work_directory() : options.directory;
    library.init_snapshots(work_directory_argument(directory).c_str());
    library.set_get_version_number(options.versions ? 1 : 0);

    const std::int32_t saved = library.take_snapshot(options.name.c_str());
    SnapshotPages pages;
    if (!read_snapshot(library, options.rows, options.process, pages)) {
        report_error("the snapshot could not be read back.");
        return exit_library_failure;
    }
    const std::string work_file = work_file_of(library, options.name, false);
    if (options.json) {
        auto document = pages_json(pages, options.process);
        document["work_file"] = saved == KORVEX_OK ? nlohmann::json(work_file) : nlohmann::json(nullptr);
        document["result"] = saved;
        print_json(stdout, document);
    } else {
        print_pages(pages, options.process);
        if (saved == KORVEX_OK) std::printf("\nwork file: %s\n", work_file.c_str());
    }
    if (saved == KORVEX_WORKFILE_CREATE_FAILED)
        report_error("the work file " + work_file + " could not be created.");
    else if (saved == KORVEX_WORKFILE_CLOSE_FAILED)
        report_error("the work file " + work_file + " could not be written completely.");
    return saved == KORVEX_OK ? exit_ok : exit_library_failure;
}

int run_show(const Library& library, const ShowOptions& options) {
    std::error_code error;
    if (!fs::is_regular_file(options.work_file, error)) {
        report_error(options.work_file + " is not a file.");
        return exit_library_failure;
    }
    // The library reads work files from its own work directory: register a
    // snapshot there, place a copy of the file at its path and select it.
    const fs::path scratch = fs::path(default_work_directory()) / "show";
    fs::create_directories(scratch, error);
    library.init_snapshots(work_directory_argument(scratch.string()).c_str());
    const std::string name = "show";
    const std::string placed = work_file_of(library, name, true);
    if (placed.empty() ||
        !fs::copy_file(options.work_file, placed, fs::copy_options::overwrite_existing, error)) {
        report_error("the work file could not be placed in " + scratch.string() + ".");
        return exit_library_failure;
    }
    const std::int32_t selected = library.select_snapshot(name.c_str());
    SnapshotPages pages;
    const bool read = selected == KORVEX_OK && read_snapshot(library, options.rows, options.process, pages);
    library.delete_snapshot(name.c_str());
    if (!read) {
        report_error(options.work_file +
                     " is not a valid work file: it is shorter than its record counts say, or a count is negative.");
        return exit_library_failure;
    }
    if (options.json)
        print_json(stdout, pages_json(pages, options.process));
    else
        print_pages(pages, options.process);
    return exit_ok;
}

}  // namespace korvex::host
