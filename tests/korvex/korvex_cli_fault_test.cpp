// What korvex must never do: answer wrongly with exit 0, write where another
// user could interfere, replace a snapshot, or leave the user guessing why.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "korvex_cli.h"
#include "pe/file_view.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using korvex::test::contains;
using korvex::test::korvex_cli;
using korvex::test::RunOptions;
using korvex::test::TempDir;
using nlohmann::json;

// A work file of `processes` process records whose bytes are all `fill`, and no modules.
std::vector<std::uint8_t> work_file(std::uint8_t processes, std::uint8_t fill) {
    ProcessRecord patterned;
    std::memset(&patterned, fill, sizeof patterned);
    return korvex::test::work_file_bytes(std::vector<ProcessRecord>(processes, patterned), {});
}

TEST(KorvexCliFaults, ScratchFilesStayInAPrivateFolderThatIsRemoved) {
    TempDir temp, victim, work;
    const std::string empty = work.write("empty.wrk", work_file(0, 0));
    const fs::path planted = temp.path() / "korvex";
#ifdef _WIN32
    const korvex::test::ScopedVariable tmp("TMP", temp.path().string()),
        temp_var("TEMP", temp.path().string());
    temp.write("korvex", {'x'});
#else
    const korvex::test::ScopedVariable tmp("TMPDIR", temp.path().string());
    fs::create_directory_symlink(victim.path(), planted);
#endif
    const auto run = korvex_cli({"show", empty});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), {}), 1)
        << "only the planted entry";
    EXPECT_TRUE(fs::is_empty(victim.path()));
}

TEST(KorvexCliFaults, SnapshotsNeverReplaceEachOther) {
    TempDir dir;
    const std::string self = std::to_string(korvex::test::current_process_id());
    const std::vector<std::string> quick = {"snapshot", "--no-versions", "--pid", self};
    const auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), quick.begin(), quick.end());
        return korvex_cli(extra);
    };
    const std::string before = dir.file("before.wrk");
    const auto first = with({"-o", before});
    ASSERT_EQ(first.exit_code, 0) << first.err;
    EXPECT_TRUE(contains(first.out, before)) << "says where it went";
    EXPECT_GT(korvex::test::read_file(before).size(), 8u);

    dir.write("before.wrk", {1, 2, 3});
    const auto refused = with({"-o", before});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_TRUE(contains(refused.err, "--force")) << refused.err;
    EXPECT_EQ(korvex::test::read_file(before), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(with({"-o", before, "--force"}).exit_code, 0);
    EXPECT_GT(korvex::test::read_file(before).size(), 8u);

    TempDir folder;
    for (int round = 0; round < 2; ++round)
        EXPECT_EQ(with({"--dir", folder.path().string()}).exit_code, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), {}), 2);
}

// show checks a work file's size against its record counts before it copies
// anything, and copies only the records: trailing bytes (a sparse gigabyte)
// cost nothing, and counts past the file or past 256 MiB are refused at once.
TEST(KorvexCliFaults, ShowChecksTheSizeBeforeItCopies) {
    TempDir dir;
    const std::uint32_t fits = ((300u << 20) - 8) / sizeof(ModuleRecord);
    const struct {
        std::uint32_t modules;
        std::uint64_t size;
        int exit_code;
        const char* says;
    } cases[] = {
        {0, std::uint64_t{1} << 30, 0, ""},
        {0x7FFFFFFF, std::uint64_t{1} << 30, 1, "bytes, and it holds 1073741824."},
        {fits, 8 + std::uint64_t{fits} * sizeof(ModuleRecord), 1,
         "more than korvex reads (at most 256 MiB)"},
    };
    for (const auto& c : cases) {
        auto bytes = korvex::test::work_file_bytes({}, {});
        for (int at = 0; at < 4; ++at)
            bytes[4 + at] = static_cast<std::uint8_t>(c.modules >> 8 * at);
        const std::string file = dir.write("sparse.wrk", bytes);
        fs::resize_file(file, c.size);
        const auto run = korvex_cli({"show", "--json", file});
        EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
        EXPECT_TRUE(contains(run.err, c.says)) << run.err;
    }
}

TEST(KorvexCliFaults, FailedWritesAreReportedButAReaderGoingAwayIsNot) {
    // `korvex ... | head`: the reader closed the pipe; nothing to say, as grep.
    RunOptions closed;
    closed.output_pipe_closed = true;
    const auto quiet = korvex_cli({"osversion"}, closed);
    EXPECT_EQ(quiet.exit_code, 0);
    EXPECT_EQ(quiet.err, "");
    const auto full = korvex_cli({"osversion"}, {.output_path = "/dev/full"});
    EXPECT_EQ(full.exit_code, 1);
    EXPECT_TRUE(korvex::test::is_one_message(full.err) &&
                contains(full.err, "output could not be written (No space left on device)"))
        << full.err;
}

TEST(KorvexCliFaults, ShowReadsEveryRecordWhateverTheRowsPerCall) {
    TempDir dir;
    const std::string patterned = dir.write("hundred.wrk", work_file(100, 0xA5));
    for (const char* rows : {"1", "99", "100", "1000000"}) {
        const auto run =
            korvex_cli({"show", "--json", "--rows", rows, patterned}, {.measure_memory = true});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(json::parse(run.out)["processes"].size(), 100u) << rows;
#ifndef _WIN32
        EXPECT_GT(run.peak_memory_kb, 0);
        EXPECT_LT(run.peak_memory_kb, 150 * 1024) << "--rows must not size memory up front";
#endif
    }
}

TEST(KorvexCliFaults, NamesReachJsonAsUtf8) {
    // Each name and how JSON spells it; empty: as the system's short name.
#ifdef _WIN32
    // The euro sign is code page 1252's byte 0x80; the CJK name has no ANSI spelling.
    const std::vector<std::pair<std::string, std::string>> names = {
        {"\xE2\x82\xAC"
         "uro.exe",
         "\xE2\x82\xAC"
         "uro.exe"},
        {"\xE6\x97\xA5\xE6\x9C\xAC.exe", ""}};
#else
    const std::vector<std::pair<std::string, std::string>> names = {
        {"caf\xC3\xA9-\xE6\x97\xA5.exe", "caf\xC3\xA9-\xE6\x97\xA5.exe"},
        {"bad\xFF.exe", "bad\xEF\xBF\xBD.exe"}};
#endif
    TempDir dir;
    const auto image = korvex::test::ne_image();
    for (const auto& [name, in_json] : names) {
        const fs::path file = dir.path() / fs::u8path(name);
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
        const auto utf8 = file.u8string();
        const std::string path(utf8.begin(), utf8.end());
        const auto run = korvex_cli({"inspect", "--json", path});
        ASSERT_EQ(run.exit_code, 0) << name << ": " << run.err;
        const json inspected = json::parse(run.out)["files"][0];
        EXPECT_EQ(inspected["kind"], "NE");
        if (in_json.empty()) continue;
        EXPECT_EQ(inspected["path"], path.substr(0, path.size() - name.size()) + in_json);
    }
}

TEST(KorvexCliFaults, EachFailureSaysWhy) {
    TempDir dir;
    const std::string elf = dir.write("tool", {0x7F, 'E', 'L', 'F', 1, 1, 1, 0});
    const std::string text = dir.write("notes.txt", {'h', 'i'});
    const std::string empty = dir.write("empty.dll", {});
    const std::string long_path = dir.file(std::string(300, 'x') + ".dll");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"inspect", dir.file("missing.dll")}, "does not exist"},
        {{"inspect", "/no-such-korvex-file.dll"},
         "no-such-korvex-file.dll does not exist"},  // not an option
        {{"inspect", dir.path().string()}, "is a folder"},
        {{"inspect", elf}, "ELF"},
        {{"inspect", text}, "does not begin with MZ"},
        {{"inspect", empty}, "is empty"},
        {{"inspect", long_path}, "too long"},
        {{"snapshot", "--dir", dir.file("missing")}, "does not exist"},
        {{"show", dir.path().string()}, "is a folder"},
        {{"inspect", "--bogus", text}, "korvex inspect --help"},
#ifndef _WIN32
        {{"inspect", "/dev/null"}, "is a device"},
#endif
    };
    for (const auto& [arguments, cause] : cases) {
        const auto run = korvex_cli(arguments);
        EXPECT_NE(run.exit_code, 0) << arguments.back();
        EXPECT_TRUE(korvex::test::is_one_message(run.err) && contains(run.err, cause))
            << arguments.back() << ": " << run.err;
    }
}

TEST(KorvexCliFaults, AMissingLibraryIsNamed) {
    TempDir alone;
    const fs::path copy = alone.path() / fs::path(KORVEX_CLI_PATH).filename();
    fs::copy_file(KORVEX_CLI_PATH, copy);
    const auto run = korvex::test::run_program(copy.string(), {"osversion"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(contains(run.err, "korvex32") && contains(run.err, "not found")) << run.err;
}

#ifndef _WIN32
TEST(KorvexCliFaults, ProgressOnATerminalIsClearedBeforeEachResult) {
    TempDir dir;
    const std::string first = dir.write("one.exe", korvex::test::ne_image());
    const std::string second = dir.write("two.exe", korvex::test::ne_image());
    const auto run = korvex_cli({"inspect", first, second}, {.on_terminal = true});
    EXPECT_EQ(run.exit_code, 0);
    for (const auto& path : {first, second}) {
        const auto at = run.out.find(path + ": NE");
        ASSERT_NE(at, std::string::npos) << run.out;
        EXPECT_TRUE(at == 0 || run.out[at - 1] == '\n' || run.out.compare(at - 3, 3, "\033[K") == 0)
            << run.out;
    }
}
#endif

// Natively nothing keeps another process from cutting short a file korvex
// is reading; the bytes past the new end read as zeros and korvex goes on.
// (Under Windows the share mode refuses the truncation.)
TEST(KorvexCliFaults, AFileCutShortWhileReadIsNoCrash) {
    const TempDir dir;
    const fs::path path = dir.path() / "cut.dll";
    std::ofstream(path, std::ios::binary) << std::string(1 << 16, 'M');
    korvex::host::FileView view;
    ASSERT_TRUE(view.open(path.string()));
    korvex::host::FileView second;
    EXPECT_FALSE(second.open(path.string()));  // one view at a time
    std::error_code cut;
    fs::resize_file(path, 0, cut);
#ifdef _WIN32
    EXPECT_TRUE(cut);
    EXPECT_EQ(view.bytes().u16(40000), 0x4D4D);
#else
    ASSERT_FALSE(cut);
    EXPECT_EQ(view.bytes().u16(0), 0);
    EXPECT_EQ(view.bytes().u16(40000), 0);
    EXPECT_EQ(view.bytes().u16(1 << 16), std::nullopt);
#endif
}

}  // namespace
