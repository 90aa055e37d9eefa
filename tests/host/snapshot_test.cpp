// Snapshots through the DLL under Wine: a real capture, its work file on
// disk, pages read with different rows-per-call settings, work files placed
// by the host, and work files that must be refused.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bytes.h"
#include "loaded_library.h"
#include "snapshot_bytes.h"
#include "snapshot_records.h"
#include "temp_dir.h"

namespace korvex::host_test {
namespace {

using namespace korvex::test;

DecodedWorkFile parse_work_file(const std::string& path) {
    return decode_work_file(read_file(path));
}

std::string work_file_of(const std::string& name) {
    char buffer[KORVEX_WORKFILE_PATH_SIZE] = {};
    name.copy(buffer, sizeof buffer - 1);
    return get_work_file(buffer) == 0 ? std::string(buffer) : std::string();
}

std::string register_work_file(const std::string& name) {
    char buffer[KORVEX_WORKFILE_PATH_SIZE] = {};
    name.copy(buffer, sizeof buffer - 1);
    EXPECT_EQ(new_work_file(buffer), 0);
    return buffer;
}

template <typename Record>
Bytes read_pages(std::int32_t(KORVEX_API* read)(Record*), std::int32_t rows, std::size_t expected) {
    bool ok = false;
    Bytes out = read_all_pages<Record>(read, rows, expected, ok);
    EXPECT_TRUE(ok) << "a page outside 0.." << rows << " or more than " << expected << " records";
    return out;
}

class SnapshotHost : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(init_snapshots(dir_.path().string().c_str()), 0);
        set_rows_per_call(1);
        select_process(0);
    }
    void TearDown() override {
        init_snapshots("");
        set_rows_per_call(1);
        select_process(0);
    }
    TempDir dir_;
};

// The work file a real capture writes is the snapshot the pages hand out,
// whatever the rows-per-call setting.
TEST_F(SnapshotHost, PagesWithRowsPerCall1And7And100EqualEachOtherAndTheWorkFile) {
    ASSERT_EQ(take_snapshot("real"), 0);
    const std::string path = work_file_of("real");
    ASSERT_EQ(path, dir_.path().string() + "\\snp00000.wrk");
    const DecodedWorkFile file = parse_work_file(path);
    ASSERT_GE(file.processes, 0);
    ASSERT_GE(file.modules, 0);
    EXPECT_TRUE(file.exact_length) << "8 + 296 P + 332 M bytes";

    for (std::int32_t rows : {1, 7, 100}) {
        set_rows_per_call(rows);
        ASSERT_EQ(select_snapshot("real"), 0);  // the current one: rewinds, reads nothing
        EXPECT_EQ(read_pages(read_processes, rows, file.processes),
                  record_bytes(file.process_records))
            << rows;
        EXPECT_EQ(read_pages(read_modules, rows, file.modules), record_bytes(file.module_records))
            << rows;
        ProcessRecord process;
        EXPECT_EQ(read_processes(&process), KORVEX_READ_END);
    }
    for (const ProcessRecord& record : file.process_records) EXPECT_EQ(record.dwSize, 296u);
}

// Needs the real capture: the placeholder capture records no process.
TEST_F(SnapshotHost, ARealCaptureListsThisProcessAndTheModulesItLoaded) {
    ASSERT_EQ(take_snapshot("self"), 0);
    const DecodedWorkFile file = parse_work_file(work_file_of("self"));
    ASSERT_GT(file.processes, 0) << "a real capture sees at least this process";
    ASSERT_GT(file.modules, 0);

    set_rows_per_call(1000);
    const Bytes processes = read_pages(read_processes, 1000, file.processes);
    bool found_self = false;
    for (std::size_t at = 0; at + 296 <= processes.size(); at += 296) {
        ProcessRecord record;
        std::memcpy(&record, processes.data() + at, sizeof record);
        found_self = found_self || record.th32ProcessID == GetCurrentProcessId();
    }
    EXPECT_TRUE(found_self);

    // The filtered read hands out this process's modules only (a 64-bit
    // capture also holds every other process's), so that is how many the
    // pages may hold: with more, the end code would read as a count of 100.
    const auto own = static_cast<std::size_t>(std::count_if(
        file.module_records.begin(), file.module_records.end(),
        [](const ModuleRecord& m) { return m.dwProcessID == GetCurrentProcessId(); }));
    select_process(GetCurrentProcessId());
    const Bytes modules = read_pages(read_modules, 1000, own);
    EXPECT_EQ(modules.size(), own * sizeof(ModuleRecord));
    bool found_library = false;
    for (std::size_t at = 0; at + 332 <= modules.size(); at += 332) {
        ModuleRecord record;
        std::memcpy(&record, modules.data() + at, sizeof record);
        EXPECT_EQ(record.dwProcessID, GetCurrentProcessId());
        found_library = found_library || lstrcmpiA(record.szShortName, "korvex32.dll") == 0;
    }
    EXPECT_TRUE(found_library) << "korvex32.dll is loaded into this process";
}

TEST_F(SnapshotHost, ACopyPlacedAtANewWorkFilePathSelectsAndReadsBackIdentically) {
    ASSERT_EQ(take_snapshot("original"), 0);
    const DecodedWorkFile original = parse_work_file(work_file_of("original"));
    ASSERT_GE(original.processes, 0);
    const std::string copy_path = register_work_file("copy");
    EXPECT_EQ(copy_path, dir_.path().string() + "\\snp00001.wrk");
    ASSERT_TRUE(CopyFileA(work_file_of("original").c_str(), copy_path.c_str(), FALSE));

    set_rows_per_call(7);
    ASSERT_EQ(select_snapshot("copy"), 0);
    EXPECT_EQ(read_pages(read_processes, 7, original.processes),
              record_bytes(original.process_records));
    EXPECT_EQ(read_pages(read_modules, 7, original.modules), record_bytes(original.module_records));
    EXPECT_TRUE(DeleteFileA(copy_path.c_str())) << "the reader closed its stream";
}

TEST_F(SnapshotHost, AWorkFileMadeByTheHostSelectsAndReadsBackRecordForRecord) {
    const std::vector<ProcessRecord> processes = {process_record(8, "C:\\A\\ONE.EXE"),
                                                  process_record(4, "TWO.EXE")};
    const std::vector<ModuleRecord> modules = {module_record(4, "KERNEL32.DLL"),
                                               module_record(8, "A.DLL"),
                                               module_record(4, "USER32.DLL")};
    const Bytes bytes = work_file_bytes(processes, modules);
    write_file(register_work_file("made"), bytes);

    set_rows_per_call(2);
    ASSERT_EQ(select_snapshot("made"), 0);
    select_process(4);
    std::vector<ModuleRecord> page(2);
    ASSERT_EQ(read_modules(page.data()), 2);
    EXPECT_EQ(std::memcmp(&page[0], &modules[0], sizeof page[0]), 0);
    EXPECT_EQ(std::memcmp(&page[1], &modules[2], sizeof page[1]), 0);
    EXPECT_EQ(read_modules(page.data()), KORVEX_READ_END);
    std::vector<ProcessRecord> two(2);
    ASSERT_EQ(read_processes(two.data()), 2);
    EXPECT_EQ(std::memcmp(two.data(), processes.data(), 2 * sizeof two[0]), 0);
}

TEST_F(SnapshotHost, CorruptWorkFilesAreRefusedAndDeliverNoRecord) {
    const Bytes good = work_file_bytes({process_record(1, "A.EXE"), process_record(2, "B.EXE")},
                                       {module_record(1, "A.DLL"), module_record(2, "B.DLL")});
    write_file(register_work_file("good"), good);
    auto with_count = [](Bytes bytes, std::size_t at, std::uint32_t count) {
        put32(bytes, at, count);
        return bytes;
    };
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"three bytes", Bytes(good.begin(), good.begin() + 3)},
        {"cut in the processes", Bytes(good.begin(), good.begin() + 300)},
        {"no module count", Bytes(good.begin(), good.begin() + 4 + 2 * 296)},
        {"cut in the modules", Bytes(good.begin(), good.end() - 400)},
        {"one byte short", Bytes(good.begin(), good.end() - 1)},
        {"process count -1", with_count(good, 0, 0xFFFFFFFFu)},
        {"module count -1", with_count(good, 4 + 2 * 296, 0xFFFFFFFFu)},
        {"2^31 - 1 processes in 4 bytes", with_count({}, 0, 0x7FFFFFFFu)},
    };
    for (const auto& c : cases) {
        const std::string path = register_work_file(c.what);
        write_file(path, c.bytes);
        ASSERT_EQ(select_snapshot("good"), 0);
        EXPECT_EQ(select_snapshot(c.what), KORVEX_WORKFILE_LOAD_FAILED) << c.what;
        ProcessRecord process;
        ModuleRecord module;
        EXPECT_EQ(read_processes(&process), KORVEX_READ_END) << c.what;
        EXPECT_EQ(read_modules(&module), KORVEX_READ_END) << c.what;
        EXPECT_TRUE(DeleteFileA(path.c_str())) << c.what << ": the reader closed its stream";
    }
}

// Needs the real capture for the records to be there; the result and the
// registration hold with the placeholder too.
TEST_F(SnapshotHost, AMissingWorkDirectoryFailsTheSaveButTheCaptureStaysReadable) {
    const std::string missing = dir_.path().string() + "\\no\\such\\folder";
    ASSERT_EQ(init_snapshots(missing.c_str()), 0);
    EXPECT_EQ(take_snapshot("unsaved"), KORVEX_WORKFILE_CREATE_FAILED);
    EXPECT_EQ(work_file_of("unsaved"), missing + "\\snp00000.wrk");
    EXPECT_EQ(GetFileAttributesA((missing + "\\snp00000.wrk").c_str()), INVALID_FILE_ATTRIBUTES);

    set_rows_per_call(1000);
    std::vector<ProcessRecord> page(1000);
    const std::int32_t first = read_processes(page.data());
    ASSERT_NE(first, KORVEX_NO_CURRENT_SNAPSHOT) << "the unsaved snapshot is current";
    EXPECT_GT(first, 0) << "and its records can be read out";
    EXPECT_NE(first, KORVEX_READ_END);
}

TEST_F(SnapshotHost, DeleteSnapShotRemovesTheWorkFileFromDisk) {
    ASSERT_EQ(take_snapshot("doomed"), 0);
    const std::string path = work_file_of("doomed");
    ASSERT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(delete_snapshot("doomed"), 0);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    ProcessRecord process;
    EXPECT_EQ(read_processes(&process), KORVEX_NO_CURRENT_SNAPSHOT);
    EXPECT_EQ(delete_snapshot("doomed"), KORVEX_SNAPSHOT_NOT_FOUND);
}

// Runs as the ctest host_file_size_limit, under a file-size limit that makes
// every write past KORVEX_FILE_SIZE_LIMIT bytes fail (SIGXFSZ ignored): the
// save of a real capture fails part-way, as on a full disk.
TEST_F(SnapshotHost, AWriteFailurePartWayAnswersMinusThreeAndTheCutFileIsRefused) {
    const char* limit_text = std::getenv("KORVEX_FILE_SIZE_LIMIT");
    if (limit_text == nullptr)
        GTEST_SKIP() << "needs the file-size limit of the ctest host_file_size_limit";
    const std::size_t limit = std::strtoul(limit_text, nullptr, 10);
    EXPECT_EQ(take_snapshot("limited"), KORVEX_WORKFILE_CLOSE_FAILED);

    set_rows_per_call(4096);
    std::vector<ProcessRecord> processes(4096);
    std::vector<ModuleRecord> modules(4096);
    const std::int32_t process_count = read_processes(processes.data());
    const std::int32_t module_count = read_modules(modules.data());
    ASSERT_GT(process_count, 0) << "the capture stays readable";
    ASSERT_GT(module_count, 0);
    const std::size_t whole = 8 + 296 * static_cast<std::size_t>(process_count) +
                              332 * static_cast<std::size_t>(module_count);
    ASSERT_GT(whole, limit) << "the capture fits under the limit: nothing failed";
    const std::string path = work_file_of("limited");
    EXPECT_LE(read_file(path).size(), limit) << "the cut file stays behind";

    ASSERT_EQ(take_snapshot("other"), KORVEX_WORKFILE_CLOSE_FAILED);
    EXPECT_EQ(select_snapshot("limited"), KORVEX_WORKFILE_LOAD_FAILED);
    EXPECT_EQ(read_processes(processes.data()), KORVEX_READ_END)
        << "nothing of the cut file is read out";
    EXPECT_EQ(delete_snapshot("limited"), 0);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

// A second copy of the DLL under another name is a separate library with
// its own state, so it shows the state at load whatever earlier tests did.
TEST(SnapshotHostFreshLoad, StateAtLoadHasNoCurrentSnapshotAndAnEmptyWorkDirectory) {
    TempDir dir;
    const std::string copy = dir.path().string() + "\\fresh32.dll";
    ASSERT_TRUE(CopyFileA(KORVEX_DLL_PATH, copy.c_str(), FALSE));
    for (int load = 0; load < 2; ++load) {
        HMODULE fresh = LoadLibraryA(copy.c_str());
        ASSERT_NE(fresh, nullptr);
        ASSERT_NE(fresh, korvex_dll());
        ExportFunctions fresh_exports;
        ASSERT_EQ(bind_by_ordinal(fresh_exports, fresh), nullptr);
        ProcessRecord process;
        ModuleRecord module;
        EXPECT_EQ(fresh_exports.read_processes(&process), KORVEX_NO_CURRENT_SNAPSHOT) << load;
        EXPECT_EQ(fresh_exports.read_modules(&module), KORVEX_NO_CURRENT_SNAPSHOT) << load;
        char buffer[KORVEX_WORKFILE_PATH_SIZE] = "fresh";
        EXPECT_EQ(fresh_exports.new_work_file(buffer), 0);
        EXPECT_STREQ(buffer, "\\snp00000.wrk")
            << "load " << load << " starts from an empty registry";
        fresh_exports.init_snapshots("");  // frees the entry before the unload
        EXPECT_TRUE(FreeLibrary(fresh));
    }
}

}  // namespace
}  // namespace korvex::host_test
