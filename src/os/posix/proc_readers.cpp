#include "os/posix/proc_readers.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fixed_text.h"

namespace korvex::os::posix {

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
        copy_text(entry.szExeFile, name, std::strlen(name));
    } else {
        copy_text(entry.szExeFile, open + 1, static_cast<std::size_t>(close - open - 1));
    }
    return true;
}

// ---- Mapped files

namespace {

// Memory the kernel names like a file although no file on disk holds it:
// memfd and System V shared memory, and device memory.
bool is_memory_posing_as_file(const char* path) {
    for (const char* prefix : {"/memfd:", "/SYSV", "/dev/", "/anon_hugepage"})
        if (std::strncmp(path, prefix, std::strlen(prefix)) == 0) return true;
    return false;
}

}  // namespace

bool mapped_file_of_line(const char* line, std::string& path) noexcept {
    // "start-end perms offset major:minor inode   path"
    unsigned long long inode = 0;
    int path_at = 0;
    if (std::sscanf(line, "%*s %*s %*s %*s %llu %n", &inode, &path_at) != 1 || path_at == 0)
        return false;
    const char* text = line + path_at;
    if (inode == 0 || text[0] != '/' || is_memory_posing_as_file(text)) return false;
    try {
        path.assign(text, std::strcspn(text, "\n"));
        path.push_back('\0');
        strip_deleted_mark(path.data());
        path.resize(std::strlen(path.c_str()));
    } catch (...) {
        return false;
    }
    return true;
}

bool read_mapped_module_files(std::uint32_t process_id,
                              std::vector<MappedModuleFile>& files) noexcept {
    char maps[64];
    std::snprintf(maps, sizeof maps, "/proc/%u/maps", process_id);
    std::FILE* stream = std::fopen(maps, "re");
    if (stream == nullptr) return false;
    char* line = nullptr;
    std::size_t line_size = 0;
    bool listed = true;
    try {
        files.clear();
        std::string path;
        while (::getline(&line, &line_size, stream) >= 0) {
            if (!mapped_file_of_line(line, path)) continue;
            // The mappings of one file usually follow one another.
            MappedModuleFile* known = nullptr;
            if (!files.empty() && files.back().path == path) known = &files.back();
            for (std::size_t i = 0; known == nullptr && i < files.size(); ++i)
                if (files[i].path == path) known = &files[i];
            if (known == nullptr) known = &files.emplace_back(MappedModuleFile{path, 0});
            ++known->mappings;
        }
        // Reading the maps of another user's process can fail part-way.
        listed = std::ferror(stream) == 0;
    } catch (...) {
        listed = false;
    }
    std::free(line);
    std::fclose(stream);
    return listed;
}

}  // namespace korvex::os::posix
