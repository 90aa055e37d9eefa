// The host's own logic over in-memory inputs: texts shown on a terminal,
// name patterns, the library's ordinal texts, the progress line's pace,
// process filters, long names and the snapshot comparison.
#include <gtest/gtest.h>

#include <cstdio>

#include "core/console.h"
#include "core/library.h"
#include "core/text.h"
#include "inspect/image_facts.h"
#include "pe/library_lists.h"
#include "pe/module_file.h"
#include "snapshot/snapshot_diff.h"
#include "snapshot/snapshot_listing.h"
#include "snapshot_records.h"

namespace korvex::test {
namespace {

using namespace korvex::host;

TEST(HostText, TerminalTextEscapesControlBytesOnly) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"kernel32.dll", "kernel32.dll"},           {"\x1b]0;owned\x07", "\\x1B]0;owned\\x07"},
        {"a\nb\rc\td", "a\\x0Ab\\x0Dc\\x09d"},      {"del\x7f", "del\\x7F"},
        {"C:\\x86\\app.exe", "C:\\\\x86\\app.exe"},  // a real "\x" cannot pass for an escape
        {"C:\\windows\\", "C:\\windows\\"},         {"caf\xc3\xa9 \x80", "caf\xc3\xa9 \x80"},
        {std::string("nul\0in", 6), "nul\\x00in"},
    };
    for (const auto& [text, shown] : cases) EXPECT_EQ(terminal_text(text), shown) << text;
    EXPECT_EQ(count_of(1, "file", "files"), "1 file");
    EXPECT_EQ(count_of(0, "file", "files"), "0 files");
}

TEST(HostText, PatternsMatchAsTasklistFilters) {
    const struct {
        const char *text, *pattern;
        bool matches;
    } cases[] = {
        {"winedevice.exe", "wine*", true},
        {"WINEDEVICE.EXE", "wine*", true},
        {"explorer.exe", "wine*", false},
        {"gdb.exe", "g?b.exe", true},
        {"gdb.exe", "g?.exe", false},
        {"a.b.c", "*.c", true},
        {"abc", "*", true},
        {"", "*", true},
        {"", "?", false},
        {"aaaaaaaaab", "*a*a*a*b", true},
        {"aaaaaaaaaa", "*a*a*a*b", false},
        {"services.exe", "services.exe", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(matches_pattern(c.text, c.pattern), c.matches) << c.text << " " << c.pattern;
}

TEST(HostText, OrdinalEntriesAsTheLibraryWritesThem) {
    const struct {
        const char* entry;
        std::optional<std::uint16_t> ordinal;
    } cases[] = {
        {"    2", 2},
        {"65535", 65535},
        {"   12", 12},
        {"65536", std::nullopt},
        {"  1 2", std::nullopt},
        {"    2 ", std::nullopt},
        {"12   ", std::nullopt},
        {"     ", std::nullopt},
        {"Sleep", std::nullopt},
        {"1234", std::nullopt},
    };
    for (const auto& c : cases) {
        const ImportedFunction function = parse_imported_function(c.entry);
        EXPECT_EQ(function.ordinal, c.ordinal) << c.entry;
        EXPECT_EQ(function.text(), c.entry) << "shown as the library wrote it";
    }
}

// An ordinal's name from the index of its export table: the least of the
// names of its slot, none below the ordinal base or for a slot without one,
// and a copy of the module answers from its own names.
TEST(ModuleFileNames, OrdinalsAreNamedByTheLeastNameOfTheirSlot) {
    ModuleFile dll;
    dll.ordinal_base = 10;
    dll.export_slots = {{"Zeta", 2}, {"Alpha", 2}, {"Beta", 5}, {"Far", 0xFFF0}};
    const struct {
        std::uint16_t ordinal;
        const char* name;
    } cases[] = {{12, "Alpha"}, {15, "Beta"},         {11, ""},
                 {9, ""},       {10 + 0xFFF0, "Far"}, {0xFFFF, ""}};
    auto copy = std::make_unique<ModuleFile>();
    for (const auto& c : cases) EXPECT_EQ(dll.name_of(c.ordinal), c.name) << c.ordinal;
    *copy = dll;
    dll = ModuleFile{};
    for (const auto& c : cases) EXPECT_EQ(copy->name_of(c.ordinal), c.name) << c.ordinal;
}

TEST(HostText, HeaderFactsInTheWordsToolsUse) {
    const std::pair<std::uint32_t, const char*> stamps[] = {
        {0, ""},
        {1, "1970-01-01 00:00:01 UTC"},
        {951782400, "2000-02-29 00:00:00 UTC"},
        {1676758571, "2023-02-18 22:16:11 UTC"},
        {0xFFFFFFFF, "2106-02-07 06:28:15 UTC"},
    };
    for (const auto& [seconds, text] : stamps) EXPECT_EQ(time_stamp_text(seconds), text) << seconds;
    EXPECT_EQ(subsystem_name(3), "console");
    EXPECT_EQ(subsystem_name(10), "EFI application");
    EXPECT_EQ(subsystem_name(99), "subsystem 99");
    EXPECT_EQ(dll_characteristic_names(0x4140), (std::vector<std::string>{"ASLR", "DEP", "CFG"}));
    EXPECT_TRUE(dll_characteristic_names(0).empty());
}

std::uint64_t fake_now = 0;
std::uint64_t fake_clock() { return fake_now; }

TEST(HostConsole, ProgressIsRedrawnAFewTimesASecondAtMost) {
    const auto draws = [](bool console, std::size_t items, std::uint64_t step_ms) {
        std::FILE* screen = std::tmpfile();
        fake_now = 0;
        {
            Progress progress(items, {screen, console, fake_clock});
            for (std::size_t i = 1; i <= items; ++i, fake_now += step_ms) {
                progress.show(i, "file");
                progress.clear();
            }
        }
        std::rewind(screen);
        int lines = 0;
        for (int c; (c = std::fgetc(screen)) != EOF;) lines += c == '/';  // "[3/754]"
        std::fclose(screen);
        return lines;
    };
    EXPECT_EQ(draws(true, 754, 1), 4) << "754 files in 0.75 s: one line per 250 ms";
    EXPECT_EQ(draws(true, 10, 1000), 10);
    EXPECT_EQ(draws(false, 754, 1), 0) << "not a console";
    EXPECT_EQ(draws(true, 1, 1), 0) << "a single item has no progress";
}

ProcessRecord process(std::uint32_t id, const char* exe) { return process_record(id, exe); }

SnapshotPages snapshot_of(std::vector<ProcessRecord> processes, std::vector<ModuleRecord> modules) {
    return {std::move(processes), std::move(modules)};
}

TEST(SnapshotListing, FiltersKeepProcessesAndTheirModules) {
    const SnapshotPages all =
        snapshot_of({process(4, "wineserver"), process(8, "winedevice.exe"), process(9, "gdb.exe")},
                    {module_record(8, "ntdll.dll", "C:\\windows\\system32\\ntdll.dll"),
                     module_record(9, "ntdll.dll", "C:\\windows\\system32\\ntdll.dll"),
                     module_record(9, "PYTHON~1.DLL", "C:\\PY\\python311.dll")});
    const struct {
        ProcessFilter filter;
        std::vector<std::uint32_t> processes;
        std::size_t modules;
    } cases[] = {
        {{}, {4, 8, 9}, 3},
        {{.process = 8}, {8}, 1},
        {{.name = "WINE*"}, {4, 8}, 1},
        {{.module = "python311.dll"}, {9}, 2},  // matched by its path's file name too
        {{.name = "gdb*", .module = "ntdll.dll"}, {9}, 2},
        {{.process = 5}, {}, 0},
    };
    for (const auto& c : cases) {
        SnapshotPages pages = all;
        apply_filter(pages, c.filter);
        std::vector<std::uint32_t> ids;
        for (const auto& p : pages.processes) ids.push_back(p.th32ProcessID);
        EXPECT_EQ(ids, c.processes) << c.filter.name << c.filter.module;
        EXPECT_EQ(pages.modules.size(), c.modules) << c.filter.name << c.filter.module;
    }
}

std::string fake_long_name(const std::string& path) {
    if (path == "C:\\GDB\\GDBS~O4O.EXE") return "gdbserver.exe";
    if (path == "C:\\W\\KERN~ZT2.DLL") return "kernel32.dll";
    if (path == "C:\\W\\ntdll.dll") return "ntdll.dll";
    return {};
}

TEST(SnapshotListing, LongNamesBesideAliasesOnly) {
    const SnapshotPages pages =
        snapshot_of({process(7, "GDBS~O4O.EXE"), process(8, "gone.exe")},
                    {module_record(7, "GDBS~O4O.EXE", "C:\\GDB\\GDBS~O4O.EXE"),
                     module_record(7, "KERN~ZT2.DLL", "C:\\W\\KERN~ZT2.DLL"),
                     module_record(7, "NTDLL.DLL", "C:\\W\\ntdll.dll"),
                     module_record(8, "gone.exe", "C:\\OLD\\gone.exe")});
    const LongNames names(pages, fake_long_name);
    EXPECT_EQ(names.of_process(pages.processes[0]), "gdbserver.exe");
    EXPECT_EQ(names.of_process(pages.processes[1]), "") << "the file no longer exists";
    EXPECT_EQ(names.of_module(pages.modules[1]), "kernel32.dll");
    EXPECT_EQ(names.of_module(pages.modules[2]), "") << "the same name, in another case";
    EXPECT_EQ(with_long_name("KERN~ZT2.DLL", "kernel32.dll"), "KERN~ZT2.DLL (kernel32.dll)");
    EXPECT_EQ(with_long_name("ntdll.dll", ""), "ntdll.dll");
}

ModuleRecord module_of(std::uint32_t process, const char* path, std::uint32_t size,
                       const char* version) {
    ModuleRecord record = module_record(process, "m.dll", path);
    record.dwFileSize = size;
    std::snprintf(record.szVersion, sizeof record.szVersion, "%s", version);
    return record;
}

TEST(SnapshotDiff, ComparesProcessesByIdAndExecutableAndModulesByPath) {
    const SnapshotPages before = snapshot_of(
        {process(1, "a.exe"), process(2, "b.exe"), process(3, "korvex.exe"), process(5, "c.exe")},
        {module_of(1, "C:\\x.dll", 10, "1.0"), module_of(1, "C:\\y.dll", 10, "1.0"),
         module_of(1, "C:\\z.dll", 10, "1.0"), module_of(2, "C:\\x.dll", 10, "1.0"),
         module_of(5, "C:\\x.dll", 10, "1.0")});
    const SnapshotPages after =
        snapshot_of({process(1, "a.exe"), process(2, "other.exe"), process(4, "KORVEX.EXE"),
                     process(5, "c.exe")},
                    {module_of(1, "C:\\x.dll", 10, "1.0"), module_of(1, "C:\\y.dll", 12, "1.0"),
                     module_of(1, "C:\\w.dll", 10, "1.0"), module_of(4, "C:\\x.dll", 10, "1.0"),
                     module_of(5, "C:\\x.dll", 10, "1.1")});
    const auto names = [](const std::vector<ProcessChange>& changes) {
        std::vector<std::string> list;
        for (const auto& change : changes) list.push_back(field_text(change.process->szExeFile));
        return list;
    };
    const Difference all = compare_snapshots(before, after);
    EXPECT_EQ(names(all.started), (std::vector<std::string>{"other.exe", "KORVEX.EXE"}))
        << "an id reused by another program is an end and a start";
    EXPECT_EQ(names(all.ended), (std::vector<std::string>{"b.exe", "korvex.exe"}));
    ASSERT_EQ(names(all.changed), (std::vector<std::string>{"a.exe", "c.exe"}));
    const ProcessChange& a = all.changed[0];
    ASSERT_EQ(a.loaded.size(), 1u);
    EXPECT_EQ(field_text(a.loaded[0]->szPath), "C:\\w.dll");
    ASSERT_EQ(a.unloaded.size(), 1u);
    EXPECT_EQ(field_text(a.unloaded[0]->szPath), "C:\\z.dll");
    ASSERT_EQ(a.updated.size(), 1u) << "y.dll grew";
    EXPECT_EQ(all.changed[1].updated.size(), 1u) << "x.dll's version changed in c.exe";
    EXPECT_EQ(all.started[1].loaded.size(), 1u);

    const Difference without = compare_snapshots(before, after, "korvex.exe");
    EXPECT_EQ(names(without.started), std::vector<std::string>{"other.exe"});
    EXPECT_EQ(names(without.ended), std::vector<std::string>{"b.exe"});
}

}  // namespace
}  // namespace korvex::test
