#include "snapshot/record_order.h"

#include <algorithm>
#include <cstring>

#include "fixed_text.h"
#include "snapshot/tables.h"

namespace korvex::snapshot {

namespace {

// The comparison scratch: both halves of both paths being compared.
struct SplitPaths {
    char directory_a[path_part_size];
    char name_a[path_part_size];
    char directory_b[path_part_size];
    char name_b[path_part_size];
};
constinit SplitPaths g_scratch{};

// strncmp compares as unsigned char and stops at the first terminator, so
// with the field size as its bound it is byte order on a field's text.
template <std::size_t N>
int compare_field(const char (&a)[N], const char (&b)[N]) {
    return std::strncmp(a, b, N);
}

template <typename Record>
void sort_table(RecordTable<Record>& table, int (*compare)(const Record&, const Record&) noexcept) {
    if (table.count < 2) return;
    std::stable_sort(table.records, table.records + table.count,
                     [compare](const Record& a, const Record& b) { return compare(a, b) < 0; });
}

}  // namespace

void SplitPath(const char* path, char (&directory)[path_part_size],
               char (&file_name)[path_part_size]) noexcept {
    const std::size_t length = bounded_length(path, path_part_size - 1);
    std::size_t split = length;
    while (split > 0 && path[split - 1] != '\\' && path[split - 1] != ':') --split;
    // `split` is where the name starts; the separator, if any, is just before.
    const bool has_separator = split > 0;
    const bool after_colon = has_separator && path[split - 1] == ':';
    const std::size_t directory_length = !has_separator ? 0 : after_colon ? split : split - 1;
    std::memcpy(directory, path, directory_length);
    directory[directory_length] = '\0';
    std::memcpy(file_name, path + split, length - split);
    file_name[length - split] = '\0';
}

int CompareProcessRecords(const ProcessRecord& a, const ProcessRecord& b) noexcept {
    SplitPath(a.szExeFile, g_scratch.directory_a, g_scratch.name_a);
    SplitPath(b.szExeFile, g_scratch.directory_b, g_scratch.name_b);
    const int by_name = std::strcmp(g_scratch.name_a, g_scratch.name_b);
    if (by_name != 0) return by_name;
    return std::strcmp(g_scratch.directory_a, g_scratch.directory_b);
}

int CompareModuleRecords(const ModuleRecord& a, const ModuleRecord& b) noexcept {
    const int by_name = compare_field(a.szShortName, b.szShortName);
    if (by_name != 0) return by_name;
    return compare_field(a.szPath, b.szPath);
}

void sort_process_table() noexcept { sort_table(process_table(), CompareProcessRecords); }
void sort_module_table() noexcept { sort_table(module_table(), CompareModuleRecords); }

}  // namespace korvex::snapshot
