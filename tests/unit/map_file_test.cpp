// MapFile, UnmapFile and the classification of MZ files, on files built here.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "bytes.h"
#include "image/held_image.h"
#include "korvex32.h"
#include "pe_builder.h"
#include "run_program.h"
#include "temp_dir.h"

namespace korvex::test {
namespace {

// A file and what MapFile answers for it.
struct FileCase {
    const char* what;
    Bytes file;
    std::int32_t expected;
};
using ClassifyCase = FileCase;

class ClassifyTest : public testing::TestWithParam<ClassifyCase> {};

TEST_P(ClassifyTest, AnswersTheKindAndHoldsOnlyPortableExecutables) {
    const auto& c = GetParam();
    image::ByteView view{c.file.data(), c.file.size()};
    EXPECT_EQ(image::ClassifyImage(view), c.expected) << c.what;

    TempDir dir;
    const std::string path = dir.write("image.bin", c.file);
    EXPECT_EQ(MapFile(path.c_str()), c.expected) << c.what;
    EXPECT_EQ(image::held_image().view().empty(), c.expected != KORVEX_IMAGE_PE) << c.what;
    EXPECT_EQ(UnmapFile(0), 0);
    EXPECT_TRUE(image::held_image().view().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Signatures, ClassifyTest,
    testing::Values(
        ClassifyCase{"PE and two zero bytes", mz_with_signature(0x40, {'P', 'E', 0, 0}),
                     KORVEX_IMAGE_PE},
        ClassifyCase{"NE and anything", mz_with_signature(0x40, {'N', 'E', 0x12, 0x34}),
                     KORVEX_IMAGE_NE},
        ClassifyCase{"LE and anything", mz_with_signature(0x40, {'L', 'E', 0xFF, 0xFF}),
                     KORVEX_IMAGE_LE},
        ClassifyCase{"PE then 00 01", mz_with_signature(0x40, {'P', 'E', 0, 1}), KORVEX_IMAGE_MZ},
        ClassifyCase{"LX", mz_with_signature(0x40, {'L', 'X', 0, 0}), KORVEX_IMAGE_MZ},
        ClassifyCase{"e_lfanew 0 reads MZ itself", mz_header(0), KORVEX_IMAGE_MZ},
        ClassifyCase{"signature ends exactly at the end", mz_with_signature(0x40, {'N', 'E', 0, 0}),
                     KORVEX_IMAGE_NE},
        ClassifyCase{"signature one byte past the end", mz_with_signature(0x40, {'N', 'E', 0}),
                     KORVEX_IMAGE_MZ},
        ClassifyCase{"e_lfanew at the end of the file", mz_header(0x40), KORVEX_IMAGE_MZ},
        ClassifyCase{"e_lfanew 0xFFFFFFFF", mz_header(0xFFFFFFFF), KORVEX_IMAGE_MZ},
        ClassifyCase{"e_lfanew 0xFFFFFFFE", mz_header(0xFFFFFFFE), KORVEX_IMAGE_MZ},
        ClassifyCase{"file too short for e_lfanew", Bytes{'M', 'Z', 0, 0, 0, 0, 0, 0},
                     KORVEX_IMAGE_MZ},
        // One byte less is not an MZ file at all (-4).
        ClassifyCase{"nothing but MZ", Bytes{'M', 'Z'}, KORVEX_IMAGE_MZ}));

using FailureCase = FileCase;
class MapFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(MapFailureTest, LeavesNothingHeld) {
    const auto& c = GetParam();
    TempDir dir;
    const std::string path = dir.write("file.bin", c.file);
    EXPECT_EQ(MapFile(path.c_str()), c.expected) << c.what;
    EXPECT_TRUE(image::held_image().view().empty()) << c.what;
    EXPECT_EQ(UnmapFile(0), 0);
}

INSTANTIATE_TEST_SUITE_P(Files, MapFailureTest,
                         testing::Values(FailureCase{"empty file", {}, KORVEX_MAP_MAPPING_FAILED},
                                         FailureCase{"one byte", {'M'}, KORVEX_MAP_NOT_MZ},
                                         FailureCase{"ZM", {'Z', 'M', 0, 0}, KORVEX_MAP_NOT_MZ},
                                         FailureCase{"text", {'h', 'i', '\n'}, KORVEX_MAP_NOT_MZ}));

// Paths that name something other than a regular file. Each is refused at
// once, with nothing held afterwards, even when a file was held before.
struct NotAFileCase {
    const char* what;
    std::string (*make)(const TempDir& dir);
    std::int32_t expected;
};

class MapNotAFileTest : public testing::TestWithParam<NotAFileCase> {};

TEST_P(MapNotAFileTest, IsRefusedWithoutWaitingAndLeavesNothingHeld) {
    const auto& c = GetParam();
    TempDir dir;
    const std::string held = dir.write("held.exe", mz_with_signature(0x40, {'P', 'E', 0, 0}));
    ASSERT_EQ(MapFile(held.c_str()), KORVEX_IMAGE_PE);
    const std::string path = c.make(dir);
    EXPECT_EQ(MapFile(path.c_str()), c.expected) << c.what;
    EXPECT_TRUE(image::held_image().view().empty()) << c.what;
    EXPECT_EQ(UnmapFile(0), 0);
}

std::string a_folder(const TempDir& dir) {
    std::filesystem::create_directory(dir.path() / "folder");
    return dir.file("folder");
}

#ifndef _WIN32
// A pipe that no process writes to: opening it for reading must not wait
// for a writer.
std::string a_pipe(const TempDir& dir) {
    const std::string path = dir.file("pipe");
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    return path;
}

std::string a_device(const TempDir&) { return "/dev/null"; }
#endif

INSTANTIATE_TEST_SUITE_P(Paths, MapNotAFileTest,
                         testing::Values(
                             // CreateFileA opens no directory without backup semantics.
                             NotAFileCase{"directory", a_folder, KORVEX_MAP_OPEN_FAILED}
#ifndef _WIN32
                             ,
                             NotAFileCase{"pipe without a writer", a_pipe,
                                          KORVEX_MAP_MAPPING_FAILED},
                             NotAFileCase{"character device", a_device, KORVEX_MAP_MAPPING_FAILED}
#endif
                             ));

TEST(MapFile, MissingFileIsOpenFailureAndCreatesNothing) {
    TempDir dir;
    const std::string path = dir.file("missing.exe");
    EXPECT_EQ(MapFile(path.c_str()), KORVEX_MAP_OPEN_FAILED);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(image::held_image().view().empty());
}

TEST(MapFile, HeldImageShowsTheWholeFileUntilUnmapped) {
    TempDir dir;
    const Bytes pe = mz_with_signature(0x80, {'P', 'E', 0, 0}, 0x200);
    const std::string path = dir.write("a.exe", pe);
    ASSERT_EQ(MapFile(path.c_str()), KORVEX_IMAGE_PE);
    const auto held = image::held_image().view();
    ASSERT_EQ(held.size(), pe.size());
    EXPECT_TRUE(std::equal(pe.begin(), pe.end(), held.at(0, held.size())));
    EXPECT_EQ(UnmapFile(0), 0);
    EXPECT_EQ(UnmapFile(12345), 0);  // twice: releases nothing again
    EXPECT_TRUE(image::held_image().view().empty());
}

TEST(MapFile, MappingAnotherFileReplacesTheHeldOne) {
    TempDir dir;
    const std::string first =
        dir.write("first.exe", mz_with_signature(0x40, {'P', 'E', 0, 0}, 0x100));
    const std::string second =
        dir.write("second.exe", mz_with_signature(0x40, {'P', 'E', 0, 0}, 0x300));
    ASSERT_EQ(MapFile(first.c_str()), KORVEX_IMAGE_PE);
    ASSERT_EQ(MapFile(second.c_str()), KORVEX_IMAGE_PE);
    EXPECT_EQ(image::held_image().view().size(), 0x300u);
    // A failing map also ends with nothing held, not with the earlier file.
    EXPECT_EQ(MapFile(dir.file("missing").c_str()), KORVEX_MAP_OPEN_FAILED);
    EXPECT_TRUE(image::held_image().view().empty());
    UnmapFile(0);
}

TEST(MapFile, ImageIsReleasedByNonPeClassification) {
    TempDir dir;
    const std::string pe = dir.write("pe.exe", mz_with_signature(0x40, {'P', 'E', 0, 0}));
    const std::string ne = dir.write("ne.exe", mz_with_signature(0x40, {'N', 'E', 0, 0}));
    ASSERT_EQ(MapFile(pe.c_str()), KORVEX_IMAGE_PE);
    EXPECT_EQ(MapFile(ne.c_str()), KORVEX_IMAGE_NE);
    EXPECT_TRUE(image::held_image().view().empty());
    // Once released, the file can be replaced.
    std::filesystem::remove(pe);
    EXPECT_FALSE(std::filesystem::exists(pe));
}

// Nothing keeps a Linux process out of a held file: natively there is no
// share mode, and under Wine the one that keeps Windows writers out binds no
// Linux process (the writes here are made by Linux programs). A fill still
// writes exactly what its size query answered, and a file cut short faults
// nothing.

TEST(MapFile, AHeldFileRewrittenOrCutShortByAnotherWriter) {
    Bytes pe = pe_image(PeKind::pe32, {{"A.DLL", {by_name("f")}}, {"BB.DLL", {by_name("g")}}},
                        {"e1", "e2"});
    const std::size_t unread_block = (pe.size() + 0xFFF) & ~std::size_t{0xFFF};
    pe.resize(unread_block + 0x1000, 0xEE);
    TempDir dir;
    const std::string path = dir.write("held.exe", pe);
    const std::string letter = dir.write("letter", {'X'});
    ASSERT_EQ(MapFile(path.c_str()), KORVEX_IMAGE_PE);
    const std::int32_t query = GetImportModuleNamesPE(nullptr);
    ASSERT_EQ(query, 14);

    const std::string name = std::string("A.DLL") + '\0';  // its NUL becomes a letter
    const auto at = std::search(pe.begin(), pe.end(), name.begin(), name.end()) - pe.begin() + 5;
    run_program("/bin/dd", {"if=" + linux_path(letter), "of=" + linux_path(path), "bs=1",
                            "seek=" + std::to_string(at), "conv=notrunc", "status=none"});
    ASSERT_TRUE(wait_until([&] { return read_file(path)[static_cast<std::size_t>(at)] == 'X'; }));
    std::vector<char> exact(static_cast<std::size_t>(query));  // AddressSanitizer sees a byte more
    EXPECT_EQ(GetImportModuleNamesPE(exact.data()), query);
    EXPECT_EQ(std::string(exact.data(), exact.size()), std::string("A.DLL\0BB.DLL\0\0", 14));

    run_program("/usr/bin/truncate", {"-s", "0", linux_path(path)});
    ASSERT_TRUE(wait_until([&] { return std::filesystem::file_size(path) == 0; }));
    EXPECT_EQ(GetExportFunctionNamesPE(nullptr), 7) << "read before the cut";
    EXPECT_EQ(image::held_image().view().u32(unread_block), 0u) << "gone from the file: zeros";
    EXPECT_EQ(UnmapFile(0), 0);
}

// Blocks past the memory that could be had are unusable: every read that
// reaches one answers nothing, as for bytes outside the file.
TEST(HeldFileBlocks, UnusableBlocksReadAsNotThere) {
    constexpr std::size_t block = std::size_t{1} << os::fill_block_shift;
    for (const std::size_t usable : {3 * block, block, std::size_t{0}}) {
        std::vector<std::uint8_t> view(3 * block, 'A'), flags(3, os::block_unfilled);
        const os::MappedFile held{1, view.data(), view.size(), flags.data()};
        os::fill_runs(held, 0, 2, [&](auto...) { return os::RunFill{usable, usable}; });
        const image::ByteView file(held);
        for (std::size_t at = 0; at < view.size(); at += block) {
            EXPECT_EQ(flags[at / block], at < usable ? os::block_filled : os::block_unusable);
            EXPECT_EQ(file.u32(at).has_value(), at < usable) << at;
        }
        EXPECT_FALSE(file.string_length(block - 2)) << "no NUL before the end or the unusable";
    }
}

}  // namespace
}  // namespace korvex::test
