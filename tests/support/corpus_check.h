// Maps and lists every file of a folder through the library's exports, the
// way a host would, and checks what a host relies on: no fault, each size
// query answered again by its fill, each NameList well formed, nothing
// written past the answered size, and every listed module found again by
// name. Shared by the native unit tests and the Win32 host tests, which pass
// the functions they reach the library by.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "export_table.h"
#include "name_list_call.h"

namespace korvex::test {

struct CorpusTally {
    int files = 0;
    int pe32 = 0;
    int pe32_plus = 0;
    int ne = 0;
    int le = 0;
    int mz = 0;
    int not_mz = 0;
    int map_failed = 0;
    long modules = 0;         // module-list entries
    long module_lookups = 0;  // function lists asked for
    long functions = 0;       // function-list entries
    long exports = 0;         // export-list entries
    long list_bytes = 0;      // bytes of every filled list

    void print(const char* title) const {
        std::printf(
            "%s: %d files: PE32 %d, PE32+ %d, NE %d, LE %d, other MZ %d, not MZ %d, not mapped "
            "%d;\n"
            "  listed %ld modules, %ld function lists (%ld functions), %ld exported names, %ld "
            "bytes\n",
            title, files, pe32, pe32_plus, ne, le, mz, not_mz, map_failed, modules, module_lookups,
            functions, exports, list_bytes);
        std::fflush(stdout);
    }
};

inline bool optional_header_is_pe32_plus(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::uint8_t lfanew[4] = {};
    if (!in.seekg(0x3C) || !in.read(reinterpret_cast<char*>(lfanew), 4)) return false;
    const std::uint32_t h =
        lfanew[0] | lfanew[1] << 8 | lfanew[2] << 16 | static_cast<std::uint32_t>(lfanew[3]) << 24;
    std::uint8_t magic[2] = {};
    if (!in.seekg(static_cast<std::streamoff>(h) + 24) ||
        !in.read(reinterpret_cast<char*>(magic), 2))
        return false;
    return (magic[0] | magic[1] << 8) == 0x20B;
}

inline void expect_sound(const ListCall& call, const std::string& what) {
    EXPECT_EQ(call.query, call.fill) << what;
    EXPECT_TRUE(call.guard_intact) << what;
    EXPECT_FALSE(call.query_wrote) << what;
    if (call.fill > 0) {
        EXPECT_TRUE(call.well_formed) << what;
        EXPECT_GE(call.fill, 3) << what;
    }
}

// Function lists are asked for the first `max_lookups` - 1 distinct module
// names and the last one: a few files hold tens of thousands of descriptors,
// each lookup walks them from the first, and one pe-edge file gives every
// module a lookup table of a quarter of a million entries.
inline void check_held_image(const ExportFunctions& calls, const std::string& path,
                             std::size_t max_lookups, CorpusTally& tally) {
    const ListCall modules = call_list(calls.import_modules);
    expect_sound(modules, path + ": modules");
    tally.modules += static_cast<long>(modules.entries.size());
    tally.list_bytes += modules.fill;

    // Names listed more than once are found at their first descriptor.
    std::vector<std::string> wanted;
    std::set<std::string> seen;
    for (const auto& name : modules.entries)
        if (seen.insert(name).second) wanted.push_back(name);
    if (wanted.size() > max_lookups && max_lookups > 0) {
        const std::string last = wanted.back();
        wanted.resize(max_lookups - 1);
        wanted.push_back(last);
    }
    for (const auto& name : wanted) {
        const ListCall functions = call_module_list(calls.import_functions, name);
        const std::string what = path + ": functions of " + name;
        expect_sound(functions, what);
        // A listed module is always found: an empty list still writes its NUL.
        if (functions.fill == 0) {
            EXPECT_TRUE(functions.fill_wrote) << what;
            ASSERT_FALSE(functions.list.empty());
            EXPECT_EQ(functions.list[0], 0) << what;
        }
        ++tally.module_lookups;
        tally.functions += static_cast<long>(functions.entries.size());
        tally.list_bytes += functions.fill;
    }

    const ListCall exports = call_list(calls.export_names);
    expect_sound(exports, path + ": exports");
    tally.exports += static_cast<long>(exports.entries.size());
    tally.list_bytes += exports.fill;
}

// Every regular file of `folder`, in name order.
inline std::vector<std::string> files_in(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// Lists every file of `folder`; a test that calls it skips when the folder
// is absent, so check that first.
inline CorpusTally check_folder(const ExportFunctions& calls, const std::string& folder,
                                std::size_t max_lookups) {
    CorpusTally tally;
    for (const auto& path : files_in(folder)) {
        ++tally.files;
        const std::int32_t kind = calls.map_file(path.c_str());
        switch (kind) {
            case KORVEX_IMAGE_PE:
                ++(optional_header_is_pe32_plus(path) ? tally.pe32_plus : tally.pe32);
                check_held_image(calls, path, max_lookups, tally);
                break;
            case KORVEX_IMAGE_NE:
                ++tally.ne;
                break;
            case KORVEX_IMAGE_LE:
                ++tally.le;
                break;
            case KORVEX_IMAGE_MZ:
                ++tally.mz;
                break;
            case KORVEX_MAP_NOT_MZ:
                ++tally.not_mz;
                break;
            default:
                ++tally.map_failed;
                break;
        }
        EXPECT_EQ(calls.unmap_file(0), 0);
        if (testing::Test::HasFatalFailure()) break;
    }
    return tally;
}

}  // namespace korvex::test

namespace korvex::test {

// What a host sees of Wine's kernel32.dll, 32-bit (PE32) or 64-bit (PE32+):
// it imports from ntdll.dll, among them NtCreateSection, and exports
// CreateFileA.
inline void expect_wine_kernel32(const ExportFunctions& calls, const std::string& path) {
    ASSERT_EQ(calls.map_file(path.c_str()), KORVEX_IMAGE_PE) << path;
    const ListCall modules = call_list(calls.import_modules);
    EXPECT_NE(std::find(modules.entries.begin(), modules.entries.end(), "ntdll.dll"),
              modules.entries.end())
        << path;
    const ListCall ntdll = call_module_list(calls.import_functions, "ntdll.dll");
    EXPECT_NE(std::find(ntdll.entries.begin(), ntdll.entries.end(), "NtCreateSection"),
              ntdll.entries.end())
        << path;
    const ListCall exports = call_list(calls.export_names);
    EXPECT_NE(std::find(exports.entries.begin(), exports.entries.end(), "CreateFileA"),
              exports.entries.end())
        << path;
    EXPECT_GT(exports.entries.size(), 1000u) << path;
    calls.unmap_file(0);
}

}  // namespace korvex::test
