// Compositions of the library's own functions that only tests, fuzzers and
// benchmarks ask for: they look at one step of a lookup on its own.
#pragma once

#include <cstdint>

#include "image/byte_view.h"
#include "image/directory_lookup.h"
#include "korvex32.h"
#include "snapshot/capture.h"

namespace korvex::image {

// The first byte of directory `index`'s data, and the header of the section
// that holds it, both pointers into `file`; null when find_directory answers
// nothing.
inline const std::uint8_t* FindDirectoryData(ByteView file, std::uint32_t index) noexcept {
    const auto found = find_directory(file, index);
    return found ? file.at(found->data, 1) : nullptr;
}

inline const std::uint8_t* FindDirectorySection(ByteView file, std::uint32_t index) noexcept {
    const auto found = find_directory(file, index);
    return found ? file.at(found->section.offset, section_header_size) : nullptr;
}

}  // namespace korvex::image

namespace korvex::snapshot {

// The file facts of a record whose szPath holds the upper-cased full path of
// its module's file, versions included, looked up without the capture's cache.
inline void ReadModuleFileFacts(ModuleRecord& record) noexcept {
    FileFacts facts;
    record.szPath[sizeof record.szPath - 1] = '\0';
    gather_file_facts(record.szPath, facts, true);
    apply_file_facts(facts, record);
}

}  // namespace korvex::snapshot
