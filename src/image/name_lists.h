// The three name lists over any image in memory. The exports run the held
// variants on the held image; tests and the fuzzer run the others on bytes
// of their own, and both answer alike for the same bytes.
#pragma once

#include <cstdint>

#include "image/byte_view.h"
#include "image/directory_lookup.h"
#include "image/import_walk.h"

namespace korvex::image {

// NameList of the modules the image imports from, in descriptor order. A
// null buffer measures only.
std::int32_t list_imported_modules(ByteView file, char* buffer) noexcept;

// The function list of one import descriptor into `request`: request[0] ==
// '0' measures only; any other mode byte fills `request` from its first
// byte. `module` comes from a ModuleWalk over `imports`.
std::int32_t list_module_functions(ByteView file, const DirectoryLocation& imports,
                                   const ImportedModule& module, char* request) noexcept;

// NameList of the exported names: the first name that AddressOfNames gives
// and the strings stored right after it, NumberOfNames in all. A null buffer
// measures only.
std::int32_t list_exported_names(ByteView file, char* buffer) noexcept;

// ---- The held image

// What the lists learn of the held image is kept from call to call, since a
// host asks for every list of a file, each twice (size, then fill): both
// directory lookups, the span of the exported names, and the last lookup
// table walked. MapFile and UnmapFile forget it; `file` is the held image
// in every call between.
void forget_held_lists() noexcept;

std::int32_t list_held_imported_modules(ByteView file, char* buffer) noexcept;
std::int32_t list_held_exported_names(ByteView file, char* buffer) noexcept;

// NameList of the functions imported from the module named at request + 1
// (exact bytes, case counts; the first descriptor of that name is used),
// found through the held image's module index (module_index.h), so that a
// host asking for every module of a file walks its descriptors once instead
// of once per module. The mode byte as for list_module_functions. Answers 0
// and leaves `request` as it was when there is no import directory or the
// module is not among the listed modules; a null request answers 0.
std::int32_t list_held_imported_functions(ByteView file, char* request) noexcept;

}  // namespace korvex::image
