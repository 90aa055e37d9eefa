// Real images, natively under the sanitizers: Wine's own DLL folders and the
// shared pe-edge corpus (KORVEX_CORPUS_DIR/pe-edge, hand-made images at the
// limits of the format; read as data, never run). Each folder is skipped
// when absent. The Win32 host tests list the same files through the DLL.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "corpus_check.h"
#include "linked_exports.h"

namespace {

using korvex::test::linked_exports;

void check_folder_if_present(const std::string& folder) {
#ifdef _WIN32
    GTEST_SKIP() << "under Wine the host tests list the corpus through the DLL";
#endif
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << folder << " is absent";
    // The sanitizers make each step some fifty times dearer than in the DLL.
    constexpr std::size_t max_lookups = 8;
    korvex::test::check_folder(linked_exports(), folder, max_lookups).print(folder.c_str());
}

constexpr const char* wine32 = "/usr/lib/i386-linux-gnu/wine/i386-windows";
constexpr const char* wine64 = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";

TEST(Corpus, WineI386Dlls) { check_folder_if_present(wine32); }
TEST(Corpus, WineX86_64Dlls) { check_folder_if_present(wine64); }
TEST(Corpus, SharedPeEdge) { check_folder_if_present(std::string(KORVEX_CORPUS_DIR) + "/pe-edge"); }

TEST(Corpus, WineKernel32BothWidths) {
#ifdef _WIN32
    GTEST_SKIP() << "under Wine the host tests read kernel32.dll through the DLL";
#endif
    for (const std::string folder : {wine32, wine64}) {
        const std::string path = folder + "/kernel32.dll";
        if (!std::filesystem::exists(path)) GTEST_SKIP() << path << " is absent";
        korvex::test::expect_wine_kernel32(linked_exports(), path);
    }
}

}  // namespace
