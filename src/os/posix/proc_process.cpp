#include "os/posix/proc_process.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace korvex::os::posix {

namespace {

void copy_text(char* field, std::size_t field_size, const char* text, std::size_t length) {
    length = std::min(length, field_size - 1);
    std::memcpy(field, text, length);
    field[length] = '\0';
}

}  // namespace

void strip_deleted_mark(char* path) noexcept {
    static constexpr char mark[] = " (deleted)";
    const std::size_t length = std::strlen(path);
    if (length >= sizeof mark - 1 && std::strcmp(path + length - (sizeof mark - 1), mark) == 0)
        path[length - (sizeof mark - 1)] = '\0';
}

bool process_id_from_name(const char* name, std::uint32_t& process_id) noexcept {
    std::uint64_t value = 0;
    if (*name == '\0') return false;
    for (const char* c = name; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(*c - '0');
        if (value > 0xFFFFFFFFu) return false;
    }
    process_id = static_cast<std::uint32_t>(value);
    return true;
}

bool read_process_entry(std::uint32_t process_id, ProcessRecord& entry) noexcept {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%u/stat", process_id);
    std::FILE* file = std::fopen(path, "re");
    if (file == nullptr) return false;
    char stat[1024];
    const std::size_t length = std::fread(stat, 1, sizeof stat - 1, file);
    std::fclose(file);
    stat[length] = '\0';

    // "pid (comm) state ppid ..." where comm may itself hold spaces and
    // parentheses: it ends at the last ')'.
    const char* open = std::strchr(stat, '(');
    const char* close = std::strrchr(stat, ')');
    if (open == nullptr || close == nullptr || close < open) return false;

    // The fields after the command name, from the state (field 3) on: ppid
    // is field 4, nice field 19 and num_threads field 20.
    constexpr int first_field = 3, last_field = 20;
    long fields[last_field + 1] = {};
    const char* cursor = close + 1;
    for (int field = first_field; field <= last_field; ++field) {
        while (*cursor == ' ') ++cursor;
        if (*cursor == '\0' || *cursor == '\n') return false;
        fields[field] = std::strtol(cursor, nullptr, 10);
        while (*cursor != '\0' && *cursor != ' ') ++cursor;
    }

    const std::uint32_t size = entry.dwSize;
    entry = ProcessRecord{};
    entry.dwSize = size;
    entry.th32ProcessID = process_id;
    entry.th32ParentProcessID = static_cast<std::uint32_t>(fields[4]);
    entry.cntThreads = static_cast<std::uint32_t>(fields[20]);
    entry.pcPriClassBase = static_cast<std::int32_t>(std::clamp(8L - fields[19], 1L, 31L));

    std::snprintf(path, sizeof path, "/proc/%u/exe", process_id);
    char executable[4096];
    const ssize_t linked = ::readlink(path, executable, sizeof executable - 1);
    if (linked > 0) {
        executable[linked] = '\0';
        strip_deleted_mark(executable);
        const char* slash = std::strrchr(executable, '/');
        const char* name = slash != nullptr ? slash + 1 : executable;
        copy_text(entry.szExeFile, sizeof entry.szExeFile, name, std::strlen(name));
    } else {
        copy_text(entry.szExeFile, sizeof entry.szExeFile, open + 1,
                  static_cast<std::size_t>(close - open - 1));
    }
    return true;
}

}  // namespace korvex::os::posix
