// A process source decoded from fuzz input, so the real capture (walk, file
// facts and their cache, upper-casing, sorting) runs on hostile platform
// answers: names with and without separators, bare names of 259 characters,
// szExeFile without a terminator, bytes of 128 and above, short paths that do
// not fit, calendar values no real clock gives, versions of five digits.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fake_process_source.h"
#include "fuzz_input.h"
#include "korvex32.h"
#include "os/process_source.h"

namespace korvex::fuzz {

// The walk is the tests' fake source; the processes and modules come from
// the input, and so do the answers about files.
class FuzzProcessSource final : public test::FakeProcessSource {
public:
    // Ids shared with the readout filter choices, so filters find matches.
    static constexpr std::uint32_t ids[] = {0, 1, 2, 3, 0x80000000u};

    void decode(FuzzInput& in) {
        process_list_fails = in.byte() == 0xFF;
        processes.assign(in.pick(7), test::FakeProcess{});
        for (test::FakeProcess& process : processes) {
            std::memset(&process.entry, static_cast<int>(in.byte()), sizeof process.entry);
            process.entry.th32ProcessID = ids[in.pick(std::size(ids))];
            fill_exe_file(in, process.entry.szExeFile);
            const std::uint8_t shape = in.byte();
            process.module_list_fails = shape >= 0xF0;
            process.modules.resize(shape % 9);
            for (test::FakeModule& module : process.modules) {
                module.name = text(in, module_names);
                module.path = text(in, module_paths);
                module.global_usage = in.u16();
                module.process_usage = in.byte();
            }
        }
        // What the file facts answer comes from the rest of the input.
        facts_.clear();
        for (std::size_t i = 0; i < 64; ++i) facts_.push_back(in.byte());
    }

    // Every list opened was closed, and nothing else was.
    [[nodiscard]] bool lists_balanced() const {
        return lists_opened == lists_closed && unknown_lists_closed == 0;
    }

    bool find_file(const char* path, os::FoundFile& found) noexcept override {
        const std::uint8_t how = fact(path, 0);
        if (how % 4 == 0) return false;
        found.size_low = static_cast<std::uint32_t>(fact(path, 1)) << 24 | fact(path, 2);
        found.size_high = how % 4 == 3 ? 1u : 0u;
        found.last_write = std::uint64_t{fact(path, 3)} << 50;
        const std::size_t length = fact(path, 4) % 14;
        for (std::size_t i = 0; i < length; ++i)
            found.alternate_name[i] = static_cast<char>('A' + i);
        found.alternate_name[length] = '\0';
        return true;
    }
    std::uint32_t short_path(const char* path, char* buffer, std::uint32_t size) noexcept override {
        const std::size_t length = std::strlen(path);
        switch (fact(path, 5) % 5) {
            case 0:
                return 0;  // failure
            case 1:
                return size;  // "needs more room"
            case 2:
                return 0xFFFFFFFFu;  // a wild answer
            default:
                if (length >= size) return static_cast<std::uint32_t>(length + 1);
                std::memcpy(buffer, path, length + 1);
                if (length > 0 && fact(path, 6) % 2 == 0) buffer[0] = '~';
                return static_cast<std::uint32_t>(length);
        }
    }
    bool local_time(std::uint64_t file_time, os::CalendarTime& local) noexcept override {
        const std::uint8_t seed = static_cast<std::uint8_t>(file_time >> 50);
        if (seed == 0xFF) return false;
        const std::uint8_t* f = &facts_[seed % (facts_.size() - 10)];
        local.year = static_cast<std::uint16_t>(f[0] | f[1] << 8);
        local.month = static_cast<std::uint16_t>(f[2] | f[3] << 8);
        local.day = f[4];
        local.hour = static_cast<std::uint16_t>(f[5] | f[6] << 8);
        local.minute = static_cast<std::uint16_t>(f[7] | f[8] << 8);
        return true;
    }
    os::VersionLookup file_version(const char* path, os::FileVersion& version) noexcept override {
        switch (fact(path, 7) % 3) {
            case 0:
                return os::VersionLookup::no_version_data;
            case 1:
                return os::VersionLookup::no_fixed_block;
            default:
                version.most_significant = 0xFFFF0000u | fact(path, 8);
                version.least_significant = static_cast<std::uint32_t>(fact(path, 9)) * 0x01010101u;
                return os::VersionLookup::found;
        }
    }

private:
    static inline const std::string module_names[] = {"",
                                                      "k.dll",
                                                      "KERNEL32.DLL",
                                                      "twelve_chars",
                                                      "thirteen_char",
                                                      std::string(255, 'm'),
                                                      "\xE9t\xE9.dll"};
    static inline const std::string module_paths[] = {"",
                                                      "c:\\windows\\system32\\kernel32.dll",
                                                      "C:\\A\\K.DLL",
                                                      "c:\\a\\k.dll",
                                                      "C:\\" + std::string(256, 'p'),
                                                      "\\\\server\\share\\x.dll",
                                                      "c:\\\xE9\xFF\\z.dll",
                                                      "C:"};

    std::vector<std::uint8_t> facts_ = std::vector<std::uint8_t>(64, 0);

    template <std::size_t N>
    static std::string text(FuzzInput& in, const std::string (&choices)[N]) {
        const std::uint8_t choice = in.byte();
        if (choice < 0xF0) return choices[choice % N];
        return in.bytes(300);
    }

    static void fill_exe_file(FuzzInput& in, char (&field)[260]) {
        static const std::string choices[] = {"A.EXE",
                                              "C:\\Z\\A.EXE",
                                              "C:\\A\\B.EXE",
                                              "C:TOOL.EXE",
                                              "C:\\",
                                              "\\X.EXE",
                                              "",
                                              std::string(259, 'n'),
                                              "C:\\APPS\\" + std::string(240, 'q'),
                                              "c:\\\xE9\\\xFF.exe"};
        const std::uint8_t choice = in.byte();
        if (choice == 0xFF) return;  // the byte pattern, with no terminator anywhere
        const std::string name =
            choice >= 0xF0 ? in.bytes(259) : choices[choice % std::size(choices)];
        std::memset(field, 0, sizeof field);
        name.copy(field, sizeof field - 1);
    }

    // A stable answer per path, so the facts of one file do not depend on
    // how often it is asked for.
    std::uint8_t fact(const char* path, std::size_t which) const {
        std::uint32_t hash = 2166136261u;
        for (const char* c = path; *c != '\0'; ++c)
            hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
        return facts_[(hash + which * 7) % facts_.size()];
    }
};

}  // namespace korvex::fuzz
