// The host's own logic over in-memory inputs: texts shown on a terminal,
// name patterns, the library's ordinal texts, the progress line's pace,
// process filters, long names and the snapshot comparison.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "core/console.h"
#include "core/library.h"
#include "core/text.h"
#include "inspect/file_list.h"
#include "inspect/image_facts.h"
#include "pe/library_lists.h"
#include "pe/module_file.h"
#include "pe/other_formats.h"
#include "snapshot/snapshot_diff.h"
#include "snapshot/snapshot_listing.h"
#include "snapshot_records.h"

namespace korvex::test {
namespace {

using namespace korvex::host;

TEST(HostText, NamesAsTypedAndQuotedOnlyWithControls) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"C:\\xampp\\php\\x64tool.exe", "C:\\xampp\\php\\x64tool.exe"},
        {"caf\xc3\xa9 \xe9.dll", "caf\xc3\xa9 \xe9.dll"},  // UTF-8, and a Latin-1 byte
        {"EVIL\x1b]0;x\x07.dll", "\"EVIL\\x1b]0;x\\x07.dll\""},
        {"C:\\x\tq\"", "\"C:\\\\x\\x09q\\\"\""},
        {"csi\x9b[2J", "\"csi\\x9b[2J\""},                      // C1 as a raw byte
        {"csi\xc2\x9b[2J", "\"csi\\xc2\\x9b[2J\""},             // C1 as U+009B
        {"gpj\xe2\x80\xae.exe", "\"gpj\\xe2\\x80\\xae.exe\""},  // U+202E
        {"a\xe2\x81\xa6-\xd8\x9c", "\"a\\xe2\\x81\\xa6-\\xd8\\x9c\""},
        {"\xe2\x80\xaf.dll", "\xe2\x80\xaf.dll"},  // U+202F is a space, not a control
        {"\"quoted\"", "\"\\\"quoted\\\"\""},      // could pass for a quoted name
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(terminal_text(text), shown) << text;
        EXPECT_EQ(terminal_line(terminal_text(text)), shown) << "a shown name passes a line";
    }
    EXPECT_EQ(terminal_line("C:\\x86\\a\x1b.dll was \xc2\x85 cut"),
              "C:\\x86\\a\\x1b.dll was \\xc2\\x85 cut");
    EXPECT_EQ(count_of(1, "file", "files"), "1 file");
    EXPECT_EQ(count_of(0, "file", "files"), "0 files");
}

TEST(HostText, PathsKeepTheirFolderSeparator) {
    const struct {
        std::string folder, joined;
    } cases[] = {
        {"", "x.dll"},
        {"a/", "a/x.dll"},
        {"/usr/lib/wine", "/usr/lib/wine/x.dll"},
#ifdef _WIN32
        {"Z:\\usr\\lib", "Z:\\usr\\lib\\x.dll"},
        {"Z:\\usr/lib", "Z:\\usr/lib\\x.dll"},  // mixed already: the system's own
#endif
    };
    for (const auto& c : cases) EXPECT_EQ(joined_path(c.folder, "x.dll"), c.joined) << c.folder;
}

TEST(HostText, UsageErrorsInOneForm) {
    const struct {
        const char *what, *command, *sentence;
    } cases[] = {
        {"FILE is required", "deps", "FILE is required (see korvex deps --help)."},
        {"The argument was not expected.", "inspect",
         "the argument was not expected (see korvex inspect --help)."},
        {"there is no command x", "", "there is no command x (see korvex --help)."},
    };
    for (const auto& c : cases) EXPECT_EQ(usage_sentence(c.what, c.command), c.sentence);
}

TEST(HostText, OtherFormatsNamedByTheirSignatures) {
    const std::string universal = "a universal Mach-O file (a macOS program or library)";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"\xcf\xfa\xed\xfe....", "a Mach-O file (a macOS program or library)"},
        {std::string("\xca\xfe\xba\xbe\0\0\0\x02", 8), universal},
        {std::string("\xca\xfe\xba\xbe\0\0\0\x34", 8), "a Java class file"},
        {std::string("\xbe\xba\xfe\xca\x02\0\0\0", 8), universal},
        {"\xca\xfe\xba\xbe", ""},  // too short to tell
        {"\x7f"
         "EL",
         ""},
    };
    for (const auto& [start, words] : cases) EXPECT_EQ(other_format(start), words) << start;
}

TEST(InspectFiles, WalkPatternsAndIncludedNames) {
    const std::string sep = path_separator == '/' ? "/" : "\\";
    const struct {
        std::string argument;
        std::optional<std::string> folder, pattern;
    } patterns[] = {
        {"dir/*.node", "dir/", "*.node"},
        {"*.dll", ".", "*.dll"},
        {"dir/app.exe", std::nullopt, std::nullopt},
        {"d*r/app.exe", std::nullopt, std::nullopt},  // only the last part is a pattern
#ifdef _WIN32
        {"C:\\npm\\*.node", "C:\\npm\\", "*.node"},
        {"C:*.dll", "C:", "*.dll"},
#endif
    };
    for (const auto& c : patterns) {
        const auto split = walk_pattern(c.argument);
        EXPECT_EQ(split ? std::optional(split->folder) : std::nullopt, c.folder) << c.argument;
        EXPECT_EQ(split ? std::optional(split->pattern) : std::nullopt, c.pattern) << c.argument;
    }
    const struct {
        std::string path;
        std::vector<std::string> include;
        bool included;
    } names[] = {
        {"a/b/x.node", {}, true},
        {"a/b/X.NODE", {"*.node"}, true},
        {"a/b.node/x.js", {"*.node"}, false},  // the name, not the folder
        {"a/b/x.dll.txt", {"*.node", "*.dll"}, false},
    };
    for (const auto& c : names) EXPECT_EQ(name_included(c.path, c.include), c.included) << c.path;
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
        snapshot_of({process(2, "_init"), process(3, "Xorg"), process(4, "wineserver"),
                     process(8, "winedevice.exe"), process(9, "gdb.exe")},
                    {module_record(8, "ntdll.dll", "C:\\windows\\system32\\ntdll.dll"),
                     module_record(9, "PYTHON~1.DLL", "C:\\PY\\python311.dll"),
                     module_record(9, "advapi32.dll", "C:\\windows\\system32\\advapi32.dll"),
                     module_record(9, "ntdll.dll", "C:\\windows\\system32\\ntdll.dll")});
    const struct {
        ProcessFilter filter;
        std::vector<std::uint32_t> processes;
        std::size_t modules;
    } cases[] = {
        {{}, {9, 8, 4, 3, 2}, 4},  // sorted as Windows lists names: "_" after letters
        {{.process = 8}, {8}, 1},
        {{.name = "WINE*"}, {8, 4}, 1},
        {{.module = "python311.dll"}, {9}, 3},  // matched by its path's file name too
        {{.name = "gdb*", .module = "ntdll.dll"}, {9}, 3},
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
    SnapshotPages pages = all;
    apply_filter(pages, {});
    std::vector<std::string> modules;
    for (const auto& m : pages.modules) modules.push_back(field_text(m.szShortName));
    EXPECT_EQ(modules,
              (std::vector<std::string>{"advapi32.dll", "ntdll.dll", "ntdll.dll", "PYTHON~1.DLL"}));
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
