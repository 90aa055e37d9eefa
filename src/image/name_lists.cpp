#include "image/name_lists.h"

#include <cstdlib>
#include <cstring>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "image/import_walk.h"
#include "image/name_list_writer.h"

namespace korvex::image {

namespace {

constexpr char size_query_mode = '0';

// ---- Lookup tables

// Appends each entry of a lookup table; refuses the entry that would take
// the list past its largest size.
TableEnd write_table(ByteView file, const DirectoryLocation& imports, std::uint64_t at,
                     std::uint64_t stop, NameListWriter& list) noexcept {
    return walk_lookup_table(file, imports, at, stop, [&list](const ImportedFunction& function) {
        return function.by_ordinal ? list.append_ordinal(function.ordinal)
                                   : list.append(function.name, function.name_length);
    });
}

// ---- Exported names

using export_directory_layout::address_of_names_at;
using export_directory_layout::number_of_names_at;

// What an exported name takes, NUL included, before any has been seen:
// about what the names of system DLLs take on average. Reading a block too
// many costs less than a second read.
constexpr std::uint64_t guessed_name_bytes = 20;
// How far the names' read-ahead reaches at once.
constexpr std::uint64_t max_read_ahead = 256 * 1024;

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

// The NULs among the `chunk` bytes at `bytes`.
template <std::size_t chunk>
std::uint32_t count_nuls(const std::uint8_t* bytes) {
    static_assert(chunk % 16 == 0 && chunk / 16 < 256, "a lane counts up to 255 NULs");
#if defined(__SSE2__)
    // Sixteen bytes compared at once: a NUL compares as -1, so subtracting
    // the comparisons counts the NULs of each of the sixteen lanes, and one
    // sum of absolute differences adds the lanes up.
    const __m128i zero = _mm_setzero_si128();
    __m128i lanes = zero;
    for (std::size_t j = 0; j < chunk; j += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + j));
        lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(block, zero));
    }
    const __m128i sums = _mm_sad_epu8(lanes, zero);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums) +
                                      _mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
#else
    // Without vector instructions (the 32-bit DLL is built for any i686): a
    // word at a time, its bytes counted only when it holds a zero, as about
    // one word in five of a run of names does.
    std::uint32_t nuls = 0;
    for (std::size_t j = 0; j < chunk; j += 4) {
        std::uint32_t word;
        std::memcpy(&word, bytes + j, 4);
        if (((word - 0x01010101u) & ~word & 0x80808080u) == 0) continue;
        for (std::size_t k = j; k < j + 4; ++k) nuls += bytes[k] == 0 ? 1 : 0;
    }
    return nuls;
#endif
}

// Bytes taken by `count` NUL-terminated strings stored one after another from
// `start`: the strings counted are those that end inside the file and fit in
// a NameList, which holds exactly those whose NUL lies before start +
// max_name_list_size - 1. The NULs are counted 256 bytes at a time, then
// 64 in the run that holds the last one wanted, then one by one; the blocks
// ahead are read in one go as far as the names seen so far suggest the rest
// will reach.
std::uint64_t strings_length(ByteView file, std::uint64_t start, std::uint32_t count) {
    constexpr std::size_t run = 256;
    constexpr std::size_t chunk = 64;
    const std::uint64_t fits = start + max_name_list_size - 1;
    const std::uint64_t limit = fits < file.size() ? fits : file.size();
    std::uint64_t at = start;
    std::uint32_t found = 0;
    std::uint64_t read_ahead_end = start;
    while (at < limit) {
        if (at >= read_ahead_end) {
            const std::uint64_t rest =
                (count - found) * (found == 0 ? guessed_name_bytes : (at - start) / found + 1);
            const std::uint64_t ahead = rest < max_read_ahead ? rest : max_read_ahead;
            file.read_ahead(at, ahead);
            read_ahead_end = at + ahead;
        }
        std::size_t length = 0;
        const std::uint8_t* bytes = file.rest_of_block(at, length);
        if (bytes == nullptr) break;  // no memory for the block: the names end here
        if (length > limit - at) length = static_cast<std::size_t>(limit - at);
        std::size_t i = 0;
        for (; i + run <= length; i += run) {
            const std::uint32_t nuls = count_nuls<run>(bytes + i);
            if (nuls >= count - found) break;  // the last NUL wanted is in this run
            found += nuls;
        }
        for (; i + chunk <= length; i += chunk) {
            const std::uint32_t nuls = count_nuls<chunk>(bytes + i);
            if (nuls >= count - found) break;  // the last NUL wanted is in this chunk
            found += nuls;
        }
        for (; i < length; ++i) {
            if (bytes[i] == 0 && ++found == count) return at + i + 1 - start;
        }
        at += length;
    }
    // Fewer strings end before the limit than were asked for: they are the
    // list, up to the last NUL before it.
    const std::uint8_t* scanned = file.at(start, at - start);
    while (at > start && scanned[at - 1 - start] != 0) --at;
    return at - start;
}

std::optional<NameRun> exported_names(ByteView file,
                                      const std::optional<DirectoryLocation>& exports) {
    if (!exports) return std::nullopt;
    // NumberOfNames is signed: 0 or less is an empty list, and then the name
    // array is not read at all.
    const auto number_of_names = file.u32(exports->data + number_of_names_at);
    if (!number_of_names || static_cast<std::int32_t>(*number_of_names) <= 0) return NameRun{};
    const auto start = first_name(file, *exports);
    if (!start) return NameRun{};
    return NameRun{*start, strings_length(file, *start, *number_of_names)};
}

std::int32_t write_exported_names(ByteView file, const std::optional<NameRun>& names,
                                  char* buffer) {
    if (!names) return 0;
    NameListWriter list(buffer);
    if (names->length != 0) {
        list.append_entries(file.at(names->start, names->length),
                            static_cast<std::size_t>(names->length));
    }
    return list.finish();
}

// ---- What the lists keep

constexpr std::uint64_t module_list_key = UINT64_MAX;
// Only lists of up to this many bytes are kept (KeptList).
constexpr std::uint64_t kept_list_limit = std::uint64_t{64} << 20;

// The writer of a list in `buffer`, or, for a size query (null buffer), of
// the measured copy.
NameListWriter writer(ListState& state, char* buffer) noexcept {
    return buffer != nullptr ? NameListWriter(buffer)
                             : NameListWriter(state.measured_bytes, measured_room);
}

// The answer of a size query whose list `list` wrote into the measured
// copy, kept for the fill when it is all there.
std::int32_t measured(ListState& state, std::uint64_t key, const NameListWriter& list) noexcept {
    if (list.wrote_all()) {
        state.facts.measured = MeasuredList{key, list.used()};
    } else {
        state.facts.measured.reset();
    }
    return name_list_answer(list.used());
}

// Copies the measured list into `list` when it is the one named `key`.
bool copy_measured(const ListState& state, std::uint64_t key, NameListWriter& list) noexcept {
    const auto& kept = state.facts.measured;
    if (!kept || kept->key != key) return false;
    list.append_entries(reinterpret_cast<const std::uint8_t*>(state.measured_bytes),
                        static_cast<std::size_t>(kept->bytes));
    return true;
}

void drop_kept_list(KeptList& kept) noexcept {
    if (kept.data == nullptr) return;
    std::free(kept.data);
    kept = KeptList{};
}

// Linkers put the descriptors, lookup tables, hint/name entries and module
// names together in the section that holds the import directory, so one
// read fills them all, up to this far. A larger section (imports merged
// into other read-only data) is left to be read as the walks reach it.
constexpr std::uint64_t import_read_ahead = 64 * 1024;
constexpr unsigned block_shift = os::fill_block_shift;

// Looks directory `index` up for the first time. Out of line, so that every
// later call is one test where it is made.
[[gnu::noinline]] const std::optional<DirectoryLocation>& look_up(ByteView file, ListFacts& facts,
                                                                  std::uint32_t index) {
    if (!facts.layout_read) {
        facts.layout = read_pe_layout(file);
        facts.layout_read = true;
    }
    if (facts.layout) facts.directories[index] = find_directory(file, *facts.layout, index);
    facts.looked_up[index] = true;
    const auto& found = facts.directories[index];
    if (found && index == import_directory) {
        const std::uint64_t section_end =
            std::uint64_t{found->section.pointer_to_raw_data} + found->section.size_of_raw_data;
        if (section_end > found->data && section_end - found->data <= import_read_ahead) {
            // The export directory, which the export list reads first,
            // often lies in the block just before: the same read takes it.
            std::uint64_t from = found->data;
            const auto& exports = facts.looked_up[export_directory]
                                      ? facts.directories[export_directory]
                                      : look_up(file, facts, export_directory);
            if (exports && exports->data < from &&
                (from >> block_shift) - (exports->data >> block_shift) == 1)
                from = exports->data;
            file.read_ahead(from, section_end - from);
        }
    }
    return found;
}

// Directory `index`, looked up by the first call.
const std::optional<DirectoryLocation>& directory(ByteView file, ListFacts& facts,
                                                  std::uint32_t index) {
    return facts.looked_up[index] ? facts.directories[index] : look_up(file, facts, index);
}

}  // namespace

void forget_image(ListState& state) noexcept {
    state.modules.reset();
    drop_kept_list(state.facts.kept);
    state.facts = ListFacts{};
}

std::int32_t list_imported_modules(ByteView file, ListState& state, char* buffer) noexcept {
    const auto& imports = directory(file, state.facts, import_directory);
    if (!imports) return 0;
    NameListWriter list = writer(state, buffer);
    if (buffer != nullptr && copy_measured(state, module_list_key, list)) return list.finish();
    state.modules.append_module_names(file, *imports, list);
    return buffer == nullptr ? measured(state, module_list_key, list) : list.finish();
}

std::int32_t list_exported_names(ByteView file, ListState& state, char* buffer) noexcept {
    ListFacts& facts = state.facts;
    if (!facts.exports_measured) {
        facts.export_names = exported_names(file, directory(file, facts, export_directory));
        facts.exports_measured = true;
    }
    return write_exported_names(file, facts.export_names, buffer);
}

std::int32_t list_imported_functions(ByteView file, ListState& state, char* request) noexcept {
    if (request == nullptr) return 0;
    ListFacts& facts = state.facts;
    const auto& imports = directory(file, facts, import_directory);
    if (!imports) return 0;
    const char* wanted = request + 1;
    const auto module = state.modules.find(file, *imports, wanted, std::strlen(wanted));
    if (!module) return 0;

    const bool measure = request[0] == size_query_mode;
    const auto table = lookup_table_at(file, *imports, *module);
    if (!table) return NameListWriter(measure ? nullptr : request).finish();

    auto& last = facts.last_table;
    const std::uint64_t entry_size = imports->layout.format == PeFormat::pe32_plus ? 8 : 4;
    if (!last || *table < last->start || *table > last->end ||
        (*table - last->start) % entry_size != 0) {
        drop_kept_list(facts.kept);
        NameListWriter list = writer(state, measure ? nullptr : request);
        const TableEnd end = write_table(file, *imports, *table, no_stop, list);
        if (end.refused) {
            last.reset();
        } else {
            last = WalkedTable{*table, *table, end.end, list.used()};
        }
        return measure ? measured(state, *table, list) : list.finish();
    }

    // On the entries of the last table: the entries before this table's
    // first are measured and taken off.
    if (*table != last->start) {
        NameListWriter skipped(nullptr);
        write_table(file, *imports, last->start, *table, skipped);
        last->start = *table;
        last->bytes -= skipped.used();
        if (facts.kept.data != nullptr) facts.kept.skip += skipped.used();
    }
    if (measure) return name_list_answer(last->bytes);
    NameListWriter list(request);
    if (facts.kept.data != nullptr) {
        list.append_entries(
            reinterpret_cast<const std::uint8_t*>(facts.kept.data + facts.kept.skip),
            static_cast<std::size_t>(last->bytes));
        return list.finish();
    }
    if (copy_measured(state, *table, list)) return list.finish();
    write_table(file, *imports, *table, no_stop, list);
    if (*table != last->origin && last->bytes <= kept_list_limit) {
        // Within kept_list_limit, so the size fits a size_t on 32 bits too.
        const auto bytes = static_cast<std::size_t>(last->bytes);
        facts.kept.data = static_cast<char*>(std::malloc(bytes + 1));
        if (facts.kept.data != nullptr) std::memcpy(facts.kept.data, request, bytes);
    }
    return list.finish();
}

}  // namespace korvex::image
