#include "image/name_lists.h"

#include <cstring>
#include <optional>

#include "image/module_index.h"
#include "image/name_list_writer.h"

namespace korvex::image {

// ---- Imports

namespace {

constexpr char size_query_mode = '0';

}  // namespace

std::int32_t list_imported_modules(ByteView file, char* buffer) noexcept {
    const auto imports = find_directory(file, import_directory);
    if (!imports) return 0;
    NameListWriter list(buffer);
    ModuleWalk modules(file, *imports);
    // The walk stops before a name that would not fit, so every append does.
    while (const auto module = modules.next()) list.append(module->name, module->name_length);
    return list.finish();
}

std::int32_t list_module_functions(ByteView file, const DirectoryLocation& imports,
                                   const ImportedModule& module, char* request) noexcept {
    // The fill overwrites the request, which is no longer needed.
    NameListWriter list(request[0] == size_query_mode ? nullptr : request);
    FunctionWalk functions(file, imports, module.lookup_table);
    while (const auto function = functions.next()) {
        const bool appended = function->by_ordinal
                                  ? list.append_ordinal(function->ordinal)
                                  : list.append(function->name, function->name_length);
        if (!appended) break;
    }
    return list.finish();
}

std::int32_t list_held_imported_functions(ByteView file, char* request) noexcept {
    if (request == nullptr) return 0;
    const auto imports = find_directory(file, import_directory);
    if (!imports) return 0;
    const char* wanted = request + 1;
    const auto module = held_module_index().find(file, *imports, wanted, std::strlen(wanted));
    return module ? list_module_functions(file, *imports, *module, request) : 0;
}

// ---- Exports

namespace {

constexpr std::uint64_t number_of_names_at = 24;
constexpr std::uint64_t address_of_names_at = 32;

// File offset of the first exported name: the first element of the
// AddressOfNames array, converted like the array's own RVA through the export
// directory's section. The other elements are never read.
std::optional<std::uint64_t> first_name(ByteView file, const DirectoryLocation& exports) {
    const auto names_rva = file.u32(exports.data + address_of_names_at);
    if (!names_rva) return std::nullopt;
    const auto names = exports.section.file_offset(file, *names_rva);
    if (!names) return std::nullopt;
    const auto first_rva = file.u32(*names);
    if (!first_rva) return std::nullopt;
    return exports.section.file_offset(file, *first_rva);
}

// Bytes taken by `count` NUL-terminated strings stored one after another from
// `start`: only the strings that end inside the file and fit in a NameList
// count. Each string takes at least one byte, so the loop ends by the end of
// the file whatever `count` is.
std::uint64_t measure_strings(ByteView file, std::uint64_t start, std::uint32_t count) {
    std::uint64_t at = start;
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto length = file.string_length(at);
        if (!length || !fits_in_name_list(at - start, std::uint64_t{*length} + 1)) break;
        at += *length + 1;
    }
    return at - start;
}

}  // namespace

std::int32_t list_exported_names(ByteView file, char* buffer) noexcept {
    const auto exports = find_directory(file, export_directory);
    if (!exports) return 0;
    NameListWriter list(buffer);

    // NumberOfNames is signed: 0 or less is an empty list, and then the name
    // array is not read at all.
    const auto number_of_names = file.u32(exports->data + number_of_names_at);
    if (number_of_names && static_cast<std::int32_t>(*number_of_names) > 0) {
        if (const auto start = first_name(file, *exports)) {
            const std::uint64_t length = measure_strings(file, *start, *number_of_names);
            list.append_entries(file.at(*start, length), static_cast<std::size_t>(length));
        }
    }
    return list.finish();
}

}  // namespace korvex::image
