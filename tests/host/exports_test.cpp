// The DLL's outward shape: exports by name and ordinal, the empty slots, the
// calling convention and the version record.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "loaded_library.h"

namespace korvex::host_test {
namespace {

struct NamedExport {
    const char* name;
    int ordinal;
};

const NamedExport exported[] = {
#define KORVEX_NAMED_EXPORT(name, ordinal, member) {#name, ordinal},
    KORVEX_EXPORT_TABLE(KORVEX_NAMED_EXPORT)
#undef KORVEX_NAMED_EXPORT
};

TEST(Exports, EachNameAndItsOrdinalReachTheSameFunction) {
    for (const auto& e : exported) {
        const FARPROC by_name = GetProcAddress(korvex_dll(), e.name);
        const FARPROC by_ordinal = GetProcAddress(korvex_dll(), MAKEINTRESOURCEA(e.ordinal));
        EXPECT_NE(by_name, nullptr) << e.name;
        EXPECT_EQ(by_name, by_ordinal) << e.name << " @" << e.ordinal;
    }
}

TEST(Exports, EmptySlotsAndOrdinalsOutsideTheTableYieldNothing) {
    std::vector<int> empty = {0, 42, 100};
    for (int ordinal = 13; ordinal <= 29; ++ordinal) empty.push_back(ordinal);
    for (int ordinal = 35; ordinal <= 39; ++ordinal) empty.push_back(ordinal);
    for (int ordinal : empty)
        EXPECT_EQ(GetProcAddress(korvex_dll(), MAKEINTRESOURCEA(ordinal)), nullptr) << ordinal;
    EXPECT_EQ(GetProcAddress(korvex_dll(), "_MapFile@4"), nullptr);
    EXPECT_EQ(GetProcAddress(korvex_dll(), "MapFile@4"), nullptr);
}

#if defined(__i386__)
// The stdcall check applies to the i686 build only: x86-64 has one calling
// convention, in which arguments travel in registers and the caller owns the
// stack.

// Calls `function` with one 32-bit argument pushed as a caller would, and
// answers how many bytes of arguments the callee removed from the stack:
// 4 for __stdcall, 0 for __cdecl.
int bytes_popped_by(FARPROC function, std::uint32_t argument) {
    int remaining;
    __asm__ volatile(
        "movl %%esp, %%esi\n\t"
        "pushl %[arg]\n\t"
        "call *%[fn]\n\t"
        "movl %%esi, %%ecx\n\t"
        "subl %%esp, %%ecx\n\t"
        "movl %%esi, %%esp\n\t"
        : "=&c"(remaining)
        : [fn] "r"(function), [arg] "r"(argument)
        : "eax", "edx", "esi", "memory", "cc");
    return 4 - remaining;
}

// Each call is harmless: the snapshot calls run against a work directory
// that does not exist, so nothing is written anywhere.
TEST(Exports, EveryFunctionPopsItsOwnArgument) {
    static const char missing[] = "Z:\\no\\such\\file.exe";
    static const char missing_folder[] = "Z:\\no\\such\\folder";
    static const char name[] = "popped";
    static char path_buffer[KORVEX_WORKFILE_PATH_SIZE] = "popped";
    static char unknown_name[KORVEX_WORKFILE_PATH_SIZE] = "unknown";
    static ModuleRecord module_page[1];
    static ProcessRecord process_page[1];
    static KorvexOsVersionInfo wrong_size{};
    const auto address = [](const void* pointer) {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
    };
    // Nothing is mapped when the name lists run: each answers 0 at once.
    static char request[] = "0KERNEL32.dll";
    const auto at = [](auto function) { return reinterpret_cast<FARPROC>(function); };
    const struct {
        FARPROC function;
        std::uint32_t argument;
        int popped;  // 4 bytes per argument; ClearCurSnapShot takes none
    } calls[] = {
        {at(set_rows_per_call), 1, 4},
        {at(set_get_version_number), 1, 4},  // the version-number switch, left on as it was
        {at(init_snapshots), address(missing_folder), 4},
        {at(take_snapshot), address(name), 4},
        {at(select_snapshot), address(name), 4},
        {at(select_process), 0, 4},
        {at(read_modules), address(module_page), 4},
        {at(read_processes), address(process_page), 4},
        {at(clear_current_snapshot), 0, 0},
        {at(delete_snapshot), address(name), 4},
        {at(get_work_file), address(unknown_name), 4},
        {at(new_work_file), address(path_buffer), 4},
        {at(map_file), address(missing), 4},
        {at(unmap_file), 0, 4},
        {at(import_modules), 0, 4},
        {at(export_names), 0, 4},
        {at(import_functions), address(request), 4},
        {at(get_version), address(&wrong_size), 4},
        {at(terminate_process), 0, 4},
    };
    ASSERT_EQ(std::size(calls), std::size(exported));
    for (std::size_t i = 0; i < std::size(calls); ++i) {
        ASSERT_NE(calls[i].function, nullptr) << exported[i].name;
        EXPECT_EQ(bytes_popped_by(calls[i].function, calls[i].argument), calls[i].popped)
            << exported[i].name;
    }
    init_snapshots("");
}
#endif

std::string version_string(const std::vector<char>& block, const char* key) {
    const std::string path = std::string("\\StringFileInfo\\040904E4\\") + key;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), path.c_str(), &value, &length) || value == nullptr) return {};
    return static_cast<const char*>(value);
}

TEST(Exports, VersionRecordReadsBackAsPublished) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(KORVEX_DLL_PATH, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(KORVEX_DLL_PATH, 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00040000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00040000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileOS, 0x10001u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    EXPECT_EQ(version_string(block, "FileVersion"), "4.0.0.0");
    EXPECT_EQ(version_string(block, "ProductVersion"), "4.0");
    EXPECT_EQ(version_string(block, "InternalName"), "KORVEX32");
    EXPECT_EQ(version_string(block, "OriginalFileName"), "KORVEX32.DLL");
    for (const char* free_text :
         {"CompanyName", "FileDescription", "LegalCopyright", "LegalTrademarks", "ProductName"})
        EXPECT_FALSE(version_string(block, free_text).empty()) << free_text;

    struct Translation {
        WORD language;
        WORD code_page;
    }* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(translation->language, 0x0409);
    EXPECT_EQ(translation->code_page, 1252);
}

}  // namespace
}  // namespace korvex::host_test
