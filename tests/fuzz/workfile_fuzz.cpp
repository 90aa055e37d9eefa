// Arbitrary bytes as a work file: placed at the path NewSnapShotWorkFile
// gives, selected, then read out page by page, unfiltered and filtered.
// Whatever the bytes, the select answers 0 or -2; after -2 no record is
// handed out, and after 0 the pages are exactly the file's records.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "korvex32.h"

namespace {

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "workfile_fuzz: %s\n", what);
        std::abort();
    }
}

std::string g_folder;

void remove_folder() { ::rmdir(g_folder.c_str()); }

const std::string& work_directory() {
    static const std::string directory = [] {
        char pattern[] = "/tmp/korvex-workfile-fuzz-XXXXXX";
        check(::mkdtemp(pattern) != nullptr, "no temporary folder");
        g_folder = pattern;
        std::atexit(remove_folder);
        // The library's path is "<directory>\snp00000.wrk": natively a file
        // named "w\snp00000.wrk" inside the temporary folder.
        return g_folder + "/w";
    }();
    return directory;
}

std::int32_t count_at(const std::uint8_t* data, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(data[offset + i]) << (8 * i);
    return static_cast<std::int32_t>(value);
}

// Reads pages until the end code and answers the bytes handed out. `most`
// is the number of records the pages should hold in all: a full page of
// exactly 100 records is told from the end code by what is still to come.
template <typename Record>
std::vector<std::uint8_t> read_pages(std::int32_t (*read)(Record*), std::int32_t rows,
                                     std::size_t most) {
    std::vector<Record> page(static_cast<std::size_t>(rows));
    std::vector<std::uint8_t> out;
    for (;;) {
        const std::int32_t result = read(page.data());
        const std::size_t records_so_far = out.size() / sizeof(Record);
        if (result == KORVEX_READ_END && records_so_far + 100 > most) break;
        check(result >= 0 && result <= rows, "page length out of range");
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(page.data());
        out.insert(out.end(), bytes, bytes + static_cast<std::size_t>(result) * sizeof(Record));
        check(out.size() / sizeof(Record) <= most, "more records than the file holds");
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::int32_t rows_choices[] = {1, 2, 3, 7, 100, 1000};
    const std::int32_t rows = rows_choices[size % std::size(rows_choices)];

    InitSnapShots(work_directory().c_str());
    char path[KORVEX_WORKFILE_PATH_SIZE] = "fuzz";
    check(NewSnapShotWorkFile(path) == 0 && path[0] != '\0', "no work file path");
    std::FILE* file = std::fopen(path, "wb");
    check(file != nullptr, "cannot write the work file");
    if (size != 0) std::fwrite(data, 1, size, file);
    std::fclose(file);

    SetRowsPerCall(rows);
    const std::int32_t selected = SelectSnapShot("fuzz");
    check(selected == 0 || selected == KORVEX_WORKFILE_LOAD_FAILED, "unexpected select result");

    // The file is valid exactly when both counts are non-negative and the
    // records they announce are all there.
    std::int64_t processes = -1, modules = -1;
    if (size >= 4) processes = count_at(data, 0);
    const std::size_t module_count_at = 4 + static_cast<std::size_t>(processes < 0 ? 0 : processes) * 296;
    if (processes >= 0 && size >= module_count_at + 4) modules = count_at(data, module_count_at);
    const std::size_t modules_at = module_count_at + 4;
    const bool valid = processes >= 0 && modules >= 0 &&
                       size >= modules_at + static_cast<std::size_t>(modules) * 332;
    check(valid == (selected == 0), "select disagrees with the file's validity");

    if (selected != 0) {
        ProcessRecord process;
        ModuleRecord module;
        check(ReadSnapShotProcesses(&process) == KORVEX_READ_END, "a process from a refused file");
        check(ReadSnapShotModules(&module) == KORVEX_READ_END, "a module from a refused file");
    } else {
        const auto process_bytes = read_pages(ReadSnapShotProcesses, rows, static_cast<std::size_t>(processes));
        check(process_bytes.size() == static_cast<std::size_t>(processes) * 296 &&
                  (process_bytes.empty() || std::memcmp(process_bytes.data(), data + 4, process_bytes.size()) == 0),
              "process pages differ from the file");
        const auto module_bytes = read_pages(ReadSnapShotModules, rows, static_cast<std::size_t>(modules));
        check(module_bytes.size() == static_cast<std::size_t>(modules) * 332 &&
                  (module_bytes.empty() || std::memcmp(module_bytes.data(), data + modules_at, module_bytes.size()) == 0),
              "module pages differ from the file");

        // Again, restricted to the process of the first module.
        if (modules > 0) {
            const auto id = static_cast<std::uint32_t>(count_at(data, modules_at));
            std::size_t matching = 0;
            // Filter 0 means every module, not the modules of process 0.
            for (std::int64_t i = 0; i < modules; ++i)
                if (id == 0 || static_cast<std::uint32_t>(count_at(data, modules_at + static_cast<std::size_t>(i) * 332)) == id)
                    ++matching;
            check(SelectSnapShot("fuzz") == 0, "reselect failed");
            SelectProcess(id);
            const auto filtered = read_pages(ReadSnapShotModules, rows, matching);
            check(filtered.size() == matching * 332, "filtered pages miss or add modules");
            for (std::size_t at = 0; at < filtered.size(); at += 332)
                check(id == 0 || static_cast<std::uint32_t>(count_at(filtered.data(), at)) == id,
                      "a module of another process in a filtered page");
        }
    }
    DeleteSnapShot("fuzz");
    return 0;
}
