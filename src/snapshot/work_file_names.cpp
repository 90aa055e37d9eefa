#include "snapshot/work_file_names.h"

#include <cstdio>
#include <cstring>

namespace korvex::snapshot {

namespace {

// Big enough for any directory the registry keeps (515 characters), the
// backslash and any work-file name (256 characters), so the formatting
// itself never cuts; the limits are applied afterwards.
constexpr std::size_t path_scratch_size = work_directory_size + 1 + work_file_name_size;

std::size_t format_path(const char* directory, const char* file_name,
                        char (&scratch)[path_scratch_size]) noexcept {
    const int length = std::snprintf(scratch, sizeof scratch, "%s\\%s", directory, file_name);
    return length < 0 ? sizeof scratch : static_cast<std::size_t>(length);
}

}  // namespace

void copy_text_cut(const char* text, char* field, std::size_t size) noexcept {
    // Stops at the terminator or the limit, whichever comes first: bytes of a
    // caller's text beyond its terminator are never read.
    std::size_t length = 0;
    while (length + 1 < size && text[length] != '\0') ++length;
    std::memcpy(field, text, length);
    field[length] = '\0';
}

SnapshotName snapshot_name_of(const char* given) noexcept {
    SnapshotName name{};
    copy_text_cut(given, name.text, sizeof name.text);
    return name;
}

void format_work_file_name(std::int32_t counter, char (&name)[work_file_name_size]) noexcept {
    std::snprintf(name, sizeof name, "%s%05d%s", "snp", static_cast<int>(counter), ".wrk");
}

bool compose_work_file_path(const char* directory, const char* file_name,
                            char (&path)[work_file_path_size]) noexcept {
    char scratch[path_scratch_size];
    const std::size_t length = format_path(directory, file_name, scratch);
    if (length >= sizeof path) {
        path[0] = '\0';
        return false;
    }
    std::memcpy(path, scratch, length + 1);
    return true;
}

}  // namespace korvex::snapshot
