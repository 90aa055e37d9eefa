#include "os/posix/case_insensitive_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

#include "fixed_text.h"

namespace korvex::os::posix {

namespace {

bool exists(const std::string& path) {
    struct stat facts {};
    return ::lstat(path.c_str(), &facts) == 0;
}

bool equal_ignoring_ascii_case(const char* a, const std::string& b) {
    std::size_t i = 0;
    for (; a[i] != '\0' && i < b.size(); ++i)
        if (ascii_upper(a[i]) != ascii_upper(b[i])) return false;
    return a[i] == '\0' && i == b.size();
}

// The name in `directory` that matches `component` regardless of case; the
// lowest in byte order when several do, so the answer does not depend on
// the order in which the directory lists them.
bool find_in_directory(const std::string& directory, const std::string& component,
                       std::string& match) {
    DIR* listing = ::opendir(directory.empty() ? "/" : directory.c_str());
    if (listing == nullptr) return false;
    bool found = false;
    while (const dirent* entry = ::readdir(listing)) {
        if (!equal_ignoring_ascii_case(entry->d_name, component)) continue;
        if (!found || std::strcmp(entry->d_name, match.c_str()) < 0) match = entry->d_name;
        found = true;
    }
    ::closedir(listing);
    return found;
}

}  // namespace

bool resolve_case_insensitive(const char* path, std::string& real) noexcept {
    if (path == nullptr || path[0] != '/') return false;
    try {
        real.clear();
        std::string component;
        std::string candidate;
        std::string match;
        const char* cursor = path;
        while (*cursor != '\0') {
            while (*cursor == '/') ++cursor;
            if (*cursor == '\0') break;
            const char* end = std::strchr(cursor, '/');
            if (end == nullptr) end = cursor + std::strlen(cursor);
            component.assign(cursor, end);
            cursor = end;

            candidate = real + "/" + component;
            if (exists(candidate)) {
                real = candidate;
                continue;
            }
            // Linux names are mostly in small letters: one more lstat spares
            // reading the directory (large ones hold thousands of names).
            for (std::size_t i = real.size() + 1; i < candidate.size(); ++i)
                candidate[i] = ascii_lower(candidate[i]);
            if (exists(candidate)) {
                real = candidate;
                continue;
            }
            if (!find_in_directory(real, component, match)) return false;
            real += "/";
            real += match;
        }
        if (real.empty()) real = "/";
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace korvex::os::posix
