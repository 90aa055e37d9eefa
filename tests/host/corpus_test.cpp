// Real images through the DLL, as a host lists them: every file of Wine's own
// DLL folders (seen through drive Z:) and of the shared pe-edge corpus
// (KORVEX_CORPUS_DIR\pe-edge, hand-made images at the limits of the format;
// read as data, never run). Each folder is skipped when absent.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "corpus_check.h"
#include "loaded_library.h"

namespace korvex::host_test {
namespace {

bool is_folder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void check_folder_if_present(const std::string& folder) {
    if (!is_folder(folder)) GTEST_SKIP() << folder << " is absent";
    const auto started = std::chrono::steady_clock::now();
    constexpr std::size_t max_lookups = 256;
    const auto tally = korvex::test::check_folder(korvex_exports(), folder, max_lookups);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    tally.print(folder.c_str());
    std::printf("  %.1f s\n", took.count());
    EXPECT_GT(tally.pe32 + tally.pe32_plus, 0) << folder;
}

const std::string wine32 = "Z:\\usr\\lib\\i386-linux-gnu\\wine\\i386-windows";
const std::string wine64 = "Z:\\usr\\lib\\x86_64-linux-gnu\\wine\\x86_64-windows";

TEST(CorpusHost, WineI386Dlls) { check_folder_if_present(wine32); }
TEST(CorpusHost, WineX86_64Dlls) { check_folder_if_present(wine64); }
TEST(CorpusHost, SharedPeEdge) {
    check_folder_if_present(std::string(KORVEX_CORPUS_DIR) + "\\pe-edge");
}

TEST(CorpusHost, WineKernel32BothWidths) {
    for (const std::string& folder : {wine32, wine64}) {
        if (!is_folder(folder)) GTEST_SKIP() << folder << " is absent";
        korvex::test::expect_wine_kernel32(korvex_exports(), folder + "\\kernel32.dll");
    }
}

}  // namespace
}  // namespace korvex::host_test
