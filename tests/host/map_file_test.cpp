// MapFile and UnmapFile through the DLL, on files made here and on real
// system DLLs.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "bytes.h"
#include "loaded_library.h"
#include "pe_builder.h"
#include "temp_dir.h"

namespace korvex::host_test {
namespace {

using namespace korvex::test;

// An MZ file of 0x200 bytes with `signature` at 0x40.
Bytes mz_file(const Bytes& signature) { return mz_with_signature(0x40, signature, 0x200); }

TEST(MapFileHost, ClassifiesFilesMadeHere) {
    TempDir dir;
    const struct {
        const char* name;
        Bytes bytes;
        int32_t expected;
    } cases[] = {
        {"empty", {}, KORVEX_MAP_MAPPING_FAILED},
        {"one-byte", {'M'}, KORVEX_MAP_NOT_MZ},
        {"zm", {'Z', 'M', 0, 0, 0, 0}, KORVEX_MAP_NOT_MZ},
        {"ne", mz_file({'N', 'E', 5, 1}), KORVEX_IMAGE_NE},
        {"le", mz_file({'L', 'E', 0, 0}), KORVEX_IMAGE_LE},
        {"pe01", mz_file({'P', 'E', 0, 1}), KORVEX_IMAGE_MZ},
        {"pe", mz_file({'P', 'E', 0, 0}), KORVEX_IMAGE_PE},
    };
    for (const auto& c : cases) {
        const std::string path = dir.write(c.name, c.bytes);
        EXPECT_EQ(map_file(path.c_str()), c.expected) << c.name;
        EXPECT_EQ(unmap_file(0), 0);
    }
    EXPECT_EQ(map_file(dir.file("missing.exe").c_str()), KORVEX_MAP_OPEN_FAILED);
    EXPECT_EQ(GetFileAttributesA(dir.file("missing.exe").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(MapFileHost, RealSystemDllsArePortableExecutables) {
    for (const char* name : {"kernel32.dll", "user32.dll", "ntdll.dll", "version.dll"}) {
        const std::string path = system_folder() + name;
        EXPECT_EQ(map_file(path.c_str()), KORVEX_IMAGE_PE) << path;
        EXPECT_EQ(unmap_file(0), 0);
    }
}

TEST(MapFileHost, HeldFileCannotBeOpenedForWritingByAnotherProcess) {
    TempDir dir;
    const std::string path = dir.write("held.exe", mz_file({'P', 'E', 0, 0}));
    ASSERT_EQ(run_child("--child try-write \"" + path + "\""), 0);
    ASSERT_EQ(map_file(path.c_str()), KORVEX_IMAGE_PE);
    EXPECT_EQ(run_child("--child try-write \"" + path + "\""), 1);
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(unmap_file(0), 0);
    EXPECT_EQ(run_child("--child try-write \"" + path + "\""), 0);
}

// Wine answers 0 for GetProcessHandleCount, so leaks show as handle values:
// a handle made after the loop takes the lowest free slot, which is the one
// a handle made before the loop had only if the loop left none behind.
TEST(MapFileHost, ThousandsOfCallsLeaveNoHandleBehind) {
    TempDir dir;
    const std::string pe = dir.write("pe.exe", mz_file({'P', 'E', 0, 0}));
    const std::string ne = dir.write("ne.exe", mz_file({'N', 'E', 0, 0}));
    const std::string kernel32 = system_folder() + "kernel32.dll";

    HANDLE before = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(before);
    for (int round = 0; round < 3000; ++round) {
        ASSERT_EQ(map_file(kernel32.c_str()), KORVEX_IMAGE_PE);
        ASSERT_EQ(map_file(pe.c_str()), KORVEX_IMAGE_PE);  // replaces the held file
        ASSERT_EQ(unmap_file(0), 0);
        ASSERT_EQ(map_file(ne.c_str()), KORVEX_IMAGE_NE);
        ASSERT_EQ(map_file("Z:\\no\\such\\file"), KORVEX_MAP_OPEN_FAILED);
        ASSERT_EQ(unmap_file(0), 0);
        ASSERT_EQ(terminate_process(0), 0);
    }
    HANDLE after = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(after);
    EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace korvex::host_test
