// The capture of the running processes and their modules into the tables,
// with the facts each ModuleRecord takes from its module's file on disk
// (short path, 8.3 name, size, local last-write date and time, and file
// version) and the cache that looks each file up once per capture.
#pragma once

#include <cstdint>

#include "korvex32.h"

namespace korvex::snapshot {

// Fills the emptied ProcessTable and ModuleTable from the running system and
// sorts both. Without a process list the tables stay empty; a process without
// a module list contributes no modules.
void CaptureSnapShot() noexcept;

// Everything ReadModuleFileFacts learns about one upper-cased path. It does
// not depend on the module that names the path, so one capture can reuse it
// for every module loaded from the same file.
struct FileFacts {
    char path[261] = {};           // the short form, or the long path it was asked for
    char alternate_name[14] = {};  // the file's 8.3 name when its own name is not one
    std::uint32_t size = 0;
    char version[20] = {};
    char date[11] = {};
    char time[7] = {};
};

// Size of a file of 4 GiB or more: the largest value the 32-bit field holds.
inline constexpr std::uint32_t file_size_too_large = 0xFFFFFFFFu;

// A year beyond four digits is written as this one.
inline constexpr unsigned latest_written_year = 9999;

// Looks the file up in this order: search, short path, local time, version
// (the last only while the version-number switch is on).
//
// When the file cannot be found or its short path cannot be had (failure, or
// a short form longer than 260 characters), `path` keeps the long path it was
// given, and size, version, date and time stay 0 and empty; the 8.3 name is
// still taken from a search that succeeded. A file of 4 GiB or more has size
// file_size_too_large. When only the time conversion fails, date and time
// stay empty and everything else is filled.
void gather_file_facts(const char* upper_path, FileFacts& facts) noexcept;

// Puts the facts into the record: szPath, szShortName when it is empty,
// dwFileSize, szVersion, szDate and szTime.
void apply_file_facts(const FileFacts& facts, ModuleRecord& record) noexcept;

// Writes the file version of `path` as "%u.%u.%u.%u" (cut to 19 characters
// when the four numbers need more); empties the text when the file has no
// readable version data or version data without the fixed block.
void GetFileVersionText(const char* path, char (&text)[20]) noexcept;

// The cache: the file facts already looked up during the running capture, by upper-cased
// long path. Most modules are loaded into many processes from the same file;
// each file is then searched, shortened, converted and version-read once per
// capture instead of once per process. The cache lives only inside one
// capture: nothing is kept between captures, so every capture sees the files
// as they are.
// Starts an empty cache; lookups and stores before this do nothing.
void begin_file_facts_cache() noexcept;

// Releases the cache's storage; later lookups find nothing.
void end_file_facts_cache() noexcept;

// The facts stored for `upper_path`, or null.
const FileFacts* find_cached_file_facts(const char* upper_path) noexcept;

// Stores the facts of `upper_path`. When storage for a larger cache cannot be
// had, the facts are simply not kept: a later module of the same file is
// looked up again, with the same result.
void remember_file_facts(const char* upper_path, const FileFacts& facts) noexcept;

}  // namespace korvex::snapshot
