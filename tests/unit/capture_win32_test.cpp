// The capture on Windows (run under Wine): Tool Help and the file APIs for
// real. Each expectation is worked out here with direct platform calls and
// compared with the records the capture made.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>
#include <winver.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "korvex32.h"
#include "os/process_source.h"
#include "os/win32/toolhelp_retry.h"
#include "snapshot/capture.h"
#include "snapshot/record_order.h"
#include "snapshot/tables.h"
#include "temp_dir.h"
#include "test_seams.h"

namespace korvex::test {
namespace {

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// What the platform says of one module file, asked the way the capture asks.
struct PlatformFacts {
    std::string short_path;
    std::string alternate_name;
    std::uint32_t size = 0;
    std::string date;
    std::string time;
    std::string version;
};

PlatformFacts platform_facts(const std::string& long_path) {
    PlatformFacts facts;
    const std::string path = upper(long_path);
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(path.c_str(), &found);
    EXPECT_NE(search, INVALID_HANDLE_VALUE) << path;
    if (search == INVALID_HANDLE_VALUE) return facts;
    FindClose(search);
    facts.alternate_name = found.cAlternateFileName;
    facts.size = found.nFileSizeLow;

    char short_path[MAX_PATH + 1] = {};
    EXPECT_GT(GetShortPathNameA(path.c_str(), short_path, sizeof short_path), 0u) << path;
    facts.short_path = short_path;

    FILETIME local;
    SYSTEMTIME calendar;
    EXPECT_TRUE(FileTimeToLocalFileTime(&found.ftLastWriteTime, &local));
    EXPECT_TRUE(FileTimeToSystemTime(&local, &calendar));
    char text[32];
    std::snprintf(text, sizeof text, "%02u/%02u/%04u", calendar.wMonth, calendar.wDay,
                  calendar.wYear);
    facts.date = text;
    std::snprintf(text, sizeof text, "%02u:%02u%s", calendar.wHour, calendar.wMinute,
                  calendar.wHour > 12 ? "p" : "a");
    facts.time = text;

    // The whole version resource, not just its start.
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(short_path, &ignored);
    if (size == 0) return facts;
    std::vector<char> block(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (GetFileVersionInfoA(short_path, 0, size, block.data()) &&
        VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) &&
        fixed != nullptr) {
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
                      LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                      LOWORD(fixed->dwFileVersionLS));
        facts.version = text;
    }
    return facts;
}

std::vector<MODULEENTRY32> own_modules() {
    std::vector<MODULEENTRY32> modules;
    const HANDLE list = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
    EXPECT_NE(list, INVALID_HANDLE_VALUE);
    if (list == INVALID_HANDLE_VALUE) return modules;
    MODULEENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32First(list, &entry); more; more = Module32Next(list, &entry))
        modules.push_back(entry);
    CloseHandle(list);
    return modules;
}

const ModuleRecord* own_record_with_path(const std::string& short_path) {
    const auto& table = snapshot::module_table();
    for (int i = 0; i < table.count; ++i)
        if (table.records[i].dwProcessID == GetCurrentProcessId() &&
            short_path == table.records[i].szPath)
            return &table.records[i];
    return nullptr;
}

class Win32CaptureTest : public testing::Test {
protected:
    void SetUp() override {
        os::set_process_source(nullptr);
        snapshot::ClearSnapShotTables();
        snapshot::CaptureSnapShot();
    }
    void TearDown() override { snapshot::ClearSnapShotTables(); }
};

TEST_F(Win32CaptureTest, ListsThisProgramWithEveryModuleItHas) {
    const auto& processes = snapshot::process_table();
    const ProcessRecord* own = nullptr;
    for (int i = 0; i < processes.count; ++i)
        if (processes.records[i].th32ProcessID == GetCurrentProcessId())
            own = &processes.records[i];
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->dwSize, 296u);
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    const std::string program_name = std::strrchr(program, '\\') + 1;
    char directory[snapshot::path_part_size], name[snapshot::path_part_size];
    snapshot::SplitPath(own->szExeFile, directory, name);
    EXPECT_EQ(upper(name), upper(program_name));

    const auto modules = own_modules();
    ASSERT_GE(modules.size(), 3u);  // the program, ntdll and kernel32 at least
    int own_records = 0;
    for (int i = 0; i < snapshot::module_table().count; ++i)
        own_records += snapshot::module_table().records[i].dwProcessID == GetCurrentProcessId();
    EXPECT_EQ(own_records, static_cast<int>(modules.size()));

    bool program_seen = false;
    for (const MODULEENTRY32& module : modules) {
        const PlatformFacts facts = platform_facts(module.szExePath);
        const ModuleRecord* record = own_record_with_path(facts.short_path);
        ASSERT_NE(record, nullptr) << module.szExePath << " as " << facts.short_path;
        const std::string expected_name =
            std::strlen(module.szModule) <= 12 ? module.szModule : facts.alternate_name;
        EXPECT_EQ(record->szShortName, expected_name) << module.szExePath;
        EXPECT_EQ(record->dwFileSize, facts.size) << module.szExePath;
        EXPECT_EQ(record->dwGlblcntUsage, module.GlblcntUsage) << module.szExePath;
        EXPECT_EQ(record->dwProccntUsage, module.ProccntUsage) << module.szExePath;
        program_seen = program_seen || upper(module.szExePath) == upper(program);
    }
    EXPECT_TRUE(program_seen);
}

TEST_F(Win32CaptureTest, Kernel32RecordCarriesWhatThePlatformReports) {
    char kernel32[MAX_PATH] = {};
    ASSERT_GT(GetModuleFileNameA(GetModuleHandleA("kernel32.dll"), kernel32, MAX_PATH), 0u);
    const PlatformFacts facts = platform_facts(kernel32);
    const ModuleRecord* record = own_record_with_path(facts.short_path);
    ASSERT_NE(record, nullptr) << facts.short_path;
    EXPECT_EQ(upper(record->szShortName), "KERNEL32.DLL");  // 12 characters: kept
    EXPECT_GT(record->dwFileSize, 0u);
    EXPECT_EQ(record->dwFileSize, facts.size);
    EXPECT_EQ(record->szDate, facts.date);
    EXPECT_EQ(record->szTime, facts.time);
    EXPECT_FALSE(facts.version.empty());
    EXPECT_EQ(record->szVersion, facts.version);
    EXPECT_EQ(record->szPath, facts.short_path);
}

TEST_F(Win32CaptureTest, RecordsAreSorted) {
    const auto& processes = snapshot::process_table();
    const auto& modules = snapshot::module_table();
    ASSERT_GT(processes.count, 1);
    for (int i = 1; i < processes.count; ++i) {
        char directory_a[snapshot::path_part_size], name_a[snapshot::path_part_size];
        char directory_b[snapshot::path_part_size], name_b[snapshot::path_part_size];
        snapshot::SplitPath(processes.records[i - 1].szExeFile, directory_a, name_a);
        snapshot::SplitPath(processes.records[i].szExeFile, directory_b, name_b);
        const int by_name = std::string(name_a).compare(name_b);
        EXPECT_TRUE(by_name < 0 || (by_name == 0 && std::string(directory_a) <= directory_b))
            << name_a << " before " << name_b;
    }
    for (int i = 1; i < modules.count; ++i) {
        const ModuleRecord& a = modules.records[i - 1];
        const ModuleRecord& b = modules.records[i];
        const int by_name = std::string(a.szShortName).compare(b.szShortName);
        EXPECT_TRUE(by_name < 0 || (by_name == 0 && std::string(a.szPath) <= b.szPath))
            << a.szShortName << " " << a.szPath << " before " << b.szShortName << " " << b.szPath;
    }
}

TEST(Win32ProcessSource, AnswersForFilesWithoutVersionOrPresence) {
    os::ProcessSource& platform = os::platform_process_source();
    TempDir dir;
    const std::string text = dir.write("plain.txt", {'h', 'i'});
    os::FileVersion version;
    EXPECT_EQ(platform.file_version(text.c_str(), version), os::VersionLookup::no_version_data);

    const std::string missing = dir.file("MISSING.DLL");
    os::FoundFile found;
    EXPECT_FALSE(platform.find_file(missing.c_str(), found));
    char buffer[261];
    EXPECT_EQ(platform.short_path(missing.c_str(), buffer, sizeof buffer), 0u);
    EXPECT_EQ(platform.file_version(missing.c_str(), version), os::VersionLookup::no_version_data);

    ASSERT_TRUE(platform.find_file(upper(text).c_str(), found));
    EXPECT_EQ(found.size_low, 2u);
    EXPECT_EQ(found.size_high, 0u);
    os::CalendarTime local;
    EXPECT_TRUE(platform.local_time(found.last_write, local));
    EXPECT_GE(local.year, 2020);
    EXPECT_FALSE(platform.local_time(0x8000000000000000ull, local));
}

TEST(Win32ProcessSource, ModuleListOfAMissingProcessCannotBeMade) {
    // Process ids are multiples of 4; this one is never handed out.
    EXPECT_EQ(os::platform_process_source().open_modules(0xFFFFFFF1u), 0);
}

TEST(Win32ProcessSource, ProcessZeroHasNoModuleList) {
    // Tool Help would answer id 0 with the modules of this very process.
    os::ProcessSource& platform = os::platform_process_source();
    const os::ListHandle list = platform.open_modules(0);
    EXPECT_EQ(list, 0);
    if (list != 0) platform.close_list(list);
}

// A module snapshot refused with ERROR_BAD_LENGTH (the list changed while
// it was copied) is asked for again, a bounded number of times; any other
// refusal is final at once.
TEST(Win32ProcessSource, AModuleSnapshotIsRetriedOnlyWhileTheListChanges) {
    const HANDLE made = reinterpret_cast<HANDLE>(std::uintptr_t{0x1234});
    const struct {
        const char* what;
        int failures;  // attempts that fail before one succeeds
        DWORD error;
        HANDLE expected;
        int expected_attempts;
    } cases[] = {
        {"first attempt succeeds", 0, ERROR_BAD_LENGTH, made, 1},
        {"list changed twice", 2, ERROR_BAD_LENGTH, made, 3},
        {"succeeds at the last attempt", os::module_snapshot_attempts - 1, ERROR_BAD_LENGTH, made,
         os::module_snapshot_attempts},
        {"list never settles", 1000, ERROR_BAD_LENGTH, INVALID_HANDLE_VALUE,
         os::module_snapshot_attempts},
        {"access denied", 1000, ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE, 1},
        {"process gone", 1000, ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE, 1},
    };
    for (const auto& c : cases) {
        int attempts = 0;
        const HANDLE got = os::retry_while_module_list_changes([&] {
            if (attempts++ < c.failures) {
                SetLastError(c.error);
                return INVALID_HANDLE_VALUE;
            }
            return made;
        });
        EXPECT_EQ(got, c.expected) << c.what;
        EXPECT_EQ(attempts, c.expected_attempts) << c.what;
    }
}

}  // namespace
}  // namespace korvex::test

#endif  // _WIN32
