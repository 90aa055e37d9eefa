// The three name-list exports read the image MapFile holds, and nothing
// when none is held.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "korvex32.h"
#include "name_list_call.h"
#include "pe_builder.h"
#include "temp_dir.h"

namespace korvex::test {
namespace {

TEST(NameListExports, NothingHeldAnswersZeroAndWritesNothing) {
    UnmapFile(0);
    EXPECT_EQ(GetImportModuleNamesPE(nullptr), 0);
    EXPECT_EQ(GetExportFunctionNamesPE(nullptr), 0);
    EXPECT_EQ(GetImportFuncNamesByModulePE(nullptr), 0);

    char buffer[16];
    std::memcpy(buffer, "1KERNEL32.dll\0\xA5\xA5", 16);
    const std::vector<char> before(buffer, buffer + 16);
    EXPECT_EQ(GetImportModuleNamesPE(buffer), 0);
    EXPECT_EQ(GetExportFunctionNamesPE(buffer), 0);
    EXPECT_EQ(GetImportFuncNamesByModulePE(buffer), 0);
    buffer[0] = '0';
    EXPECT_EQ(GetImportFuncNamesByModulePE(buffer), 0);
    buffer[0] = '1';
    EXPECT_EQ(std::vector<char>(buffer, buffer + 16), before);
}

TEST(NameListExports, ListTheHeldImageUntilItIsReleased) {
    TempDir dir;
    for (const PeKind kind : {PeKind::pe32, PeKind::pe32_plus}) {
        const auto image = pe_image(
            kind,
            {{"KERNEL32.dll", {by_ordinal(23), by_name("MapViewOfFile")}}, {"USER32.dll", {}}},
            {"MapFile", "UnmapFile"});
        const std::string path = dir.write(kind == PeKind::pe32 ? "a32.dll" : "a64.dll", image);
        ASSERT_EQ(MapFile(path.c_str()), KORVEX_IMAGE_PE);

        // Any number of calls while held, each with the same answer.
        for (int round = 0; round < 2; ++round) {
            const auto modules = call_list(GetImportModuleNamesPE);
            EXPECT_EQ(modules.fill, 25);
            EXPECT_EQ(modules.entries, (std::vector<std::string>{"KERNEL32.dll", "USER32.dll"}));
            const auto exported = call_list(GetExportFunctionNamesPE);
            EXPECT_EQ(exported.fill, 19);
            EXPECT_EQ(exported.entries, (std::vector<std::string>{"MapFile", "UnmapFile"}));
            const auto functions = call_module_list(GetImportFuncNamesByModulePE, "KERNEL32.dll");
            EXPECT_EQ(functions.query, 21);
            EXPECT_EQ(functions.fill, 21);
            EXPECT_EQ(functions.entries, (std::vector<std::string>{"   23", "MapViewOfFile"}));
            EXPECT_TRUE(functions.guard_intact);
            EXPECT_EQ(GetImportFuncNamesByModulePE(nullptr), 0);
        }

        EXPECT_EQ(UnmapFile(0), 0);
        EXPECT_EQ(GetImportModuleNamesPE(nullptr), 0);
        EXPECT_EQ(GetExportFunctionNamesPE(nullptr), 0);
        EXPECT_FALSE(call_module_list(GetImportFuncNamesByModulePE, "KERNEL32.dll").fill_wrote);
    }
}

TEST(NameListExports, ANonPortableExecutableIsNotHeld) {
    TempDir dir;
    auto image = pe_image(PeKind::pe32, {{"KERNEL32.dll", {}}});
    image[0x42] = 1;  // "PE\1\0": an other MZ file
    const std::string path = dir.write("mz.exe", image);
    EXPECT_EQ(MapFile(path.c_str()), KORVEX_IMAGE_MZ);
    EXPECT_EQ(GetImportModuleNamesPE(nullptr), 0);
}

}  // namespace
}  // namespace korvex::test
