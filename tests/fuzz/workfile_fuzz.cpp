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
#include "snapshot_bytes.h"

namespace {

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "workfile_fuzz: %s\n", what);
        std::abort();
    }
}

using korvex::test::Bytes;
using korvex::test::DecodedWorkFile;
using korvex::test::record_bytes;

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

// Every page until the end code; stops the run when a page answers outside
// 0..rows or the pages hold more than the `expected` records.
template <typename Record>
Bytes read_pages(std::int32_t (*read)(Record*), std::int32_t rows, std::size_t expected) {
    bool ok = false;
    Bytes pages = korvex::test::read_all_pages<Record>(read, rows, expected, ok);
    check(ok, "page length out of range, or more records than the file holds");
    return pages;
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
    const DecodedWorkFile decoded = korvex::test::decode_work_file(Bytes(data, data + size));
    check((decoded.modules >= 0) == (selected == 0), "select disagrees with the file's validity");

    if (selected != 0) {
        ProcessRecord process;
        ModuleRecord module;
        check(ReadSnapShotProcesses(&process) == KORVEX_READ_END, "a process from a refused file");
        check(ReadSnapShotModules(&module) == KORVEX_READ_END, "a module from a refused file");
    } else {
        check(read_pages(ReadSnapShotProcesses, rows, decoded.process_records.size()) ==
                  record_bytes(decoded.process_records),
              "process pages differ from the file");
        check(read_pages(ReadSnapShotModules, rows, decoded.module_records.size()) ==
                  record_bytes(decoded.module_records),
              "module pages differ from the file");

        // Again, restricted to the process of the first module: exactly its
        // modules, in file order. Filter 0 means every module, not the
        // modules of process 0.
        if (decoded.modules > 0) {
            const std::uint32_t id = decoded.module_records[0].dwProcessID;
            std::vector<ModuleRecord> matching;
            for (const ModuleRecord& module : decoded.module_records)
                if (id == 0 || module.dwProcessID == id) matching.push_back(module);
            check(SelectSnapShot("fuzz") == 0, "reselect failed");
            SelectProcess(id);
            check(read_pages(ReadSnapShotModules, rows, matching.size()) == record_bytes(matching),
                  "filtered pages miss or add modules, or hold a module of another process");
        }
    }
    DeleteSnapShot("fuzz");
    return 0;
}
