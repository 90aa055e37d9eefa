// Loading and unloading the DLL as a host does. Each test works on its own
// copy of the DLL under another name, which the loader treats as a separate
// library, so what it does to that copy's state cannot reach other tests.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "korvex32.h"
#include "loaded_library.h"
#include "pe_builder.h"
#include "resource_probe.h"
#include "snapshot_bytes.h"
#include "snapshot_records.h"
#include "temp_dir.h"

namespace korvex::host_test {
namespace {

using namespace korvex::test;

// One load of a copy of the DLL, with the exports the tests below need.
class LoadedCopy {
public:
    explicit LoadedCopy(const std::string& path) : module_(LoadLibraryA(path.c_str())) {
        if (module_ != nullptr) bind_by_ordinal(exports, module_);
    }
    ~LoadedCopy() { unload(); }
    LoadedCopy(const LoadedCopy&) = delete;
    LoadedCopy& operator=(const LoadedCopy&) = delete;

    [[nodiscard]] HMODULE module() const { return module_; }
    bool unload() {
        if (module_ == nullptr) return false;
        const bool freed = FreeLibrary(module_) != FALSE;
        module_ = nullptr;
        return freed;
    }

    // NewSnapShotWorkFile: registers `name` and answers the path it gets.
    std::string new_work_file(const char* name) const {
        char buffer[KORVEX_WORKFILE_PATH_SIZE] = {};
        std::strncpy(buffer, name, sizeof buffer - 1);
        EXPECT_EQ(exports.new_work_file(buffer), 0);
        return buffer;
    }

    ExportFunctions exports;

private:
    HMODULE module_;
};

// A work file with one ProcessRecord per id and one ModuleRecord per module
// owner, in the given order.
Bytes work_file_with(const std::vector<std::uint32_t>& process_ids,
                     const std::vector<std::uint32_t>& module_owners) {
    Processes processes;
    for (const std::uint32_t id : process_ids)
        processes.push_back(process_record(id, "C:\\PLACED.EXE"));
    Modules modules;
    for (const std::uint32_t owner : module_owners)
        modules.push_back(module_record(owner, "PLACED.DLL", "C:\\PLACED.DLL"));
    return work_file_bytes(processes, modules);
}

class LoadUnload : public testing::Test {
protected:
    TempDir dir_;
    std::string copy_ = dir_.file("cycled32.dll");
    std::string work_ = (dir_.path() / "work").string();

    void SetUp() override {
        ASSERT_TRUE(CopyFileA(KORVEX_DLL_PATH, copy_.c_str(), FALSE));
        ASSERT_TRUE(CreateDirectoryA(work_.c_str(), nullptr));
    }

    // Leaves every item of the state away from its value at load: a work
    // directory, registered snapshots (counter above 0), a current snapshot
    // with records in both tables, rows-per-call 5, a process filter, the
    // version lookup off. Nothing is released before the unload.
    void move_state_away_from_load(const LoadedCopy& library, int snapshots) const {
        ASSERT_EQ(library.exports.init_snapshots(work_.c_str()), 0);
        library.exports.set_rows_per_call(5);
        ASSERT_EQ(library.exports.set_get_version_number(0), 0);
        ASSERT_EQ(library.exports.select_process(7), 7);
        std::string name, path;
        for (int i = 0; i < snapshots; ++i) {
            name = "kept" + std::to_string(i);
            path = library.new_work_file(name.c_str());
        }
        ASSERT_NO_FATAL_FAILURE(
            write_file(path, work_file_with(std::vector<std::uint32_t>(120, 7),
                                            std::vector<std::uint32_t>(200, 7))));
        ASSERT_EQ(library.exports.select_snapshot(name.c_str()), 0);
        ProcessRecord page[5];
        ASSERT_EQ(library.exports.read_processes(page), 5);
    }
};

// The C runtime's heap is shared with the host and stays loaded after the
// library is gone, so blocks the library still holds at unload would be lost
// to the process for good. Compared with a load and unload that does nothing,
// one that leaves snapshots registered and records in the tables must give
// back exactly as much.
TEST_F(LoadUnload, UnloadGivesBackTheSnapshotMemory) {
    auto heap_change_of_one_cycle = [&](int snapshots) -> std::int64_t {
        const std::int64_t before = heap_bytes_in_use();
        {
            LoadedCopy library(copy_);
            EXPECT_NE(library.module(), nullptr);
            if (library.module() == nullptr) return -1;
            if (snapshots > 0) move_state_away_from_load(library, snapshots);
            EXPECT_TRUE(library.unload());
        }
        const std::int64_t after = heap_bytes_in_use();
        EXPECT_GE(before, 0);
        return after - before;
    };
    // The C runtime keeps what it sets aside the first time a process uses
    // a stream or a file slot; one cycle of each kind pays for that first.
    heap_change_of_one_cycle(0);
    heap_change_of_one_cycle(30);
    const std::int64_t bare = heap_change_of_one_cycle(0);
    const std::int64_t used = heap_change_of_one_cycle(30);
    EXPECT_EQ(used, bare) << "bytes the library held at unload stayed on the heap";
    // Nor does the DLL's own runtime keep anything: it is built without the
    // exception runtime, whose allocation pool would stay behind.
    EXPECT_EQ(bare, 0) << "a load and unload that does nothing left bytes on the heap";
}

// Unloaded with a file still held (no UnmapFile), the library keeps that
// file open, as the contract says, and nothing else: what the name lists
// learnt of it (an index of 7,000 modules, past the library's own room) goes
// back to the heap. Twenty such cycles leave it as twenty bare ones do.
TEST_F(LoadUnload, UnloadWithAFileHeldKeepsOnlyTheFileOpen) {
    std::vector<ImportSpec> imports;
    for (int i = 0; i < 7000; ++i) imports.push_back({"m" + std::to_string(i), {by_name("f")}});
    const std::string image = dir_.write("many.dll", pe_image(PeKind::pe32, imports));
    auto heap_change_of_cycles = [&](bool held) -> std::int64_t {
        const std::int64_t before = heap_bytes_in_use();
        for (int cycle = 0; cycle < 20; ++cycle) {
            LoadedCopy library(copy_);
            char request[8] = "0m6999";
            if (held && library.exports.map_file(image.c_str()) == KORVEX_IMAGE_PE)
                EXPECT_EQ(library.exports.import_functions(request), 3);
        }
        return heap_bytes_in_use() - before;
    };
    heap_change_of_cycles(true);  // the runtime's first-use costs
    EXPECT_EQ(heap_change_of_cycles(true), heap_change_of_cycles(false));
    EXPECT_EQ(run_child("--child try-write \"" + image + "\""), 1) << "the file is held no more";
}

// Every item of the state is back at its value at load after an unload and
// a new load, however the earlier load left it.
TEST_F(LoadUnload, ReloadStartsFromTheStateAtLoad) {
    {
        LoadedCopy first(copy_);
        ASSERT_NE(first.module(), nullptr);
        ASSERT_NO_FATAL_FAILURE(move_state_away_from_load(first, 3));
        ASSERT_TRUE(first.unload());
    }
    LoadedCopy library(copy_);
    ASSERT_NE(library.module(), nullptr);
    const ExportFunctions& dll = library.exports;

    ProcessRecord processes[2];
    ModuleRecord modules[2];
    EXPECT_EQ(dll.read_processes(processes), KORVEX_NO_CURRENT_SNAPSHOT) << "no current snapshot";
    EXPECT_EQ(dll.read_modules(modules), KORVEX_NO_CURRENT_SNAPSHOT);
    EXPECT_EQ(dll.unmap_file(0), 0) << "no file mapped";
    EXPECT_EQ(library.new_work_file("fresh"), "\\snp00000.wrk")
        << "empty work directory, counter 0, and no earlier entry";
    EXPECT_EQ(dll.select_snapshot("kept2"), KORVEX_SNAPSHOT_NOT_FOUND) << "empty registry";

    // Rows-per-call 1 and no process filter: a placed snapshot whose first
    // module belongs to another process than the earlier filter's reads out
    // one record per call, that module first.
    ASSERT_EQ(dll.init_snapshots(work_.c_str()), 0);
    const std::string path = library.new_work_file("placed");
    ASSERT_NO_FATAL_FAILURE(write_file(path, work_file_with({9, 7}, {9, 7})));
    ASSERT_EQ(dll.select_snapshot("placed"), 0);
    EXPECT_EQ(dll.read_processes(processes), 1);
    EXPECT_EQ(processes[0].th32ProcessID, 9u);
    EXPECT_EQ(dll.read_modules(modules), 1);
    EXPECT_EQ(modules[0].dwProcessID, 9u) << "the earlier process filter is gone";

    // The version lookup is on again: a capture finds the version of at
    // least one of the system modules loaded into this process. The first
    // read after a capture starts at the first record, so whatever it
    // answers above 0 is a count.
    ASSERT_EQ(dll.take_snapshot("captured"), 0);
    dll.set_rows_per_call(1000);
    dll.select_process(GetCurrentProcessId());
    std::vector<ModuleRecord> page(1000);
    const std::int32_t got = dll.read_modules(page.data());
    ASSERT_GT(got, 0);
    bool versioned = false;
    for (std::int32_t i = 0; i < got; ++i)
        versioned = versioned || page[static_cast<std::size_t>(i)].szVersion[0] != '\0';
    EXPECT_TRUE(versioned) << "module file versions are looked up after a new load";
    dll.init_snapshots("");
}

// A thread the host starts or ends must run no library code. The library's
// code pages are guarded: an instruction run there (an entry-routine
// notification, a TLS callback) raises a guard-page fault, which is counted.
LONG volatile g_guard_faults = 0;

LONG CALLBACK count_guard_faults(EXCEPTION_POINTERS* fault) {
    if (fault->ExceptionRecord->ExceptionCode != STATUS_GUARD_PAGE_VIOLATION)
        return EXCEPTION_CONTINUE_SEARCH;
    InterlockedIncrement(&g_guard_faults);
    return EXCEPTION_CONTINUE_EXECUTION;  // the guard is gone from that page
}

DWORD WINAPI do_nothing(LPVOID) { return 0; }

template <typename Action>
LONG library_code_faults(const IMAGE_SECTION_HEADER& code, Action action) {
    auto* start = reinterpret_cast<std::uint8_t*>(korvex_dll()) + code.VirtualAddress;
    const LONG before = g_guard_faults;
    PVOID handler = AddVectoredExceptionHandler(1, count_guard_faults);
    DWORD was = 0, guarded = 0;
    EXPECT_TRUE(VirtualProtect(start, code.Misc.VirtualSize, PAGE_EXECUTE_READ | PAGE_GUARD, &was));
    action();
    VirtualProtect(start, code.Misc.VirtualSize, was, &guarded);
    RemoveVectoredExceptionHandler(handler);
    return g_guard_faults - before;
}

TEST(LoadThreads, ThreadsTheHostStartsAndEndsRunNoLibraryCode) {
    auto* base = reinterpret_cast<std::uint8_t*>(korvex_dll());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    EXPECT_EQ(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS].Size, 0u)
        << "a TLS directory";
    const IMAGE_SECTION_HEADER& code = *IMAGE_FIRST_SECTION(nt);
    ASSERT_EQ(std::string(reinterpret_cast<const char*>(code.Name), 5), ".text");

    EXPECT_EQ(library_code_faults(code,
                                  [] {
                                      for (int i = 0; i < 4; ++i) {
                                          HANDLE thread = CreateThread(nullptr, 0, do_nothing,
                                                                       nullptr, 0, nullptr);
                                          WaitForSingleObject(thread, 10000);
                                          CloseHandle(thread);
                                      }
                                  }),
              0)
        << "library code ran for the host's threads";
    EXPECT_GT(library_code_faults(code, [] { select_process(0); }), 0)
        << "the guard does not see a call into the library";
}

}  // namespace
}  // namespace korvex::host_test
