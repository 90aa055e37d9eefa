// The three name lists of a PE image in memory. The exports run them on the
// held image (held_image.h); tests and the fuzzer on bytes of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "image/byte_view.h"
#include "image/directory_lookup.h"
#include "image/module_index.h"

namespace korvex::image {

// ---- What the lists keep of one image

// The first exported name and the bytes it and the names after it take.
struct NameRun {
    std::uint64_t start = 0;
    std::uint64_t length = 0;
};

// The last lookup table a function list was asked for: its first entry, the
// entry its walk ended at (not the list's size) and the list bytes of the
// entries between. A table that starts on one of those entries ends at the
// same entry, so its list is the tail of that one: crafted images point
// thousands of descriptors into one table of a million entries, and every
// one of those lists is asked for twice. `origin` is the table whose walk
// found the end.
struct WalkedTable {
    std::uint64_t origin = 0;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::uint64_t bytes = 0;
};

// A copy of the list of a table that started inside another one, kept for
// the fills of the tables that start after it on the same entries: the
// last table's list is data[skip, skip + bytes). From the C runtime's heap.
struct KeptList {
    char* data = nullptr;
    std::uint64_t skip = 0;
};

// The list a size query measured, written into ListState::measured_bytes as
// it was measured when it fits there: the host's fill, which asks for the
// same list next, is then one copy instead of a second walk. `key` names the
// list: the module list or the file offset of a lookup table.
struct MeasuredList {
    std::uint64_t key = 0;
    std::uint64_t bytes = 0;
};

// What the lists learn of an image, forgotten all at once when another
// image (or none) takes its place.
struct ListFacts {
    // The layout both directories are looked up with, read once.
    bool layout_read = false;
    std::optional<PeLayout> layout;
    bool looked_up[2] = {false, false};
    std::optional<DirectoryLocation> directories[2];
    bool exports_measured = false;
    std::optional<NameRun> export_names;
    std::optional<WalkedTable> last_table;
    KeptList kept;
    std::optional<MeasuredList> measured;
};

// Room for nearly every module or function list.
inline constexpr std::size_t measured_room = 64 * 1024;

// A host asks for every list of a file, each twice (size, then fill), so
// what the lists learn of an image is kept from call to call: both directory
// lookups, the span of the exported names, the last lookup table walked and
// the list a size query measured, and the module index (module_index.h),
// which finds a module without walking the descriptors from the first.
// All zero bytes until first used, so that a constinit instance takes no
// room in the DLL's file.
struct ListState {
    ModuleIndex modules;
    ListFacts facts;
    char measured_bytes[measured_room] = {};
};

// Forgets `state`'s image: the next list may be of another one.
void forget_image(ListState& state) noexcept;

// ---- The lists
//
// `file` is the same image in every call with one `state` between two
// forget_image calls.

// NameList of the modules the image imports from, in descriptor order. A
// null buffer measures only.
std::int32_t list_imported_modules(ByteView file, ListState& state, char* buffer) noexcept;

// NameList of the exported names: the first name that AddressOfNames gives
// and the strings stored right after it, NumberOfNames in all. A null buffer
// measures only.
std::int32_t list_exported_names(ByteView file, ListState& state, char* buffer) noexcept;

// NameList of the functions imported from the module named at request + 1
// (exact bytes, case counts; the first descriptor of that name is used):
// request[0] == '0' measures only; any other mode byte fills `request` from
// its first byte. Answers 0 and leaves `request` as it was when there is no
// import directory or the module is not among the listed modules; a null
// request answers 0.
std::int32_t list_imported_functions(ByteView file, ListState& state, char* request) noexcept;

}  // namespace korvex::image
