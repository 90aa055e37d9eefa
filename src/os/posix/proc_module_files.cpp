#include "os/posix/proc_module_files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "os/posix/proc_process.h"

namespace korvex::os::posix {

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
