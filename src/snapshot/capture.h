// The capture of the running processes and their modules into the tables,
// with the facts each ModuleRecord takes from its module's file on disk
// (short path, 8.3 name, size, local last-write date and time, and file
// version), each file looked up once per capture.
#pragma once

#include <cstdint>

#include "korvex32.h"
#include "os/wow64_paths.h"

namespace korvex::snapshot {

// Fills the emptied ProcessTable and ModuleTable from the running system and
// sorts both. Without a process list the tables stay empty; a process without
// a module list contributes no modules. File versions are read only when
// `read_versions` says so: TakeSnapShot passes the version-number switch, and
// the default is the switch's value at load.
void CaptureSnapShot(bool read_versions = true) noexcept;

// A capture TakeSnapShot runs in its place, installed by set_capture_for_tests
// (test_seams.h); null for CaptureSnapShot itself.
using CaptureFunction = void (*)();
inline constinit CaptureFunction installed_capture = nullptr;

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
// (the last only when `read_version`).
//
// When the file cannot be found or its short path cannot be had (failure, or
// a short form longer than 260 characters), `path` keeps the long path it was
// given, and size, version, date and time stay 0 and empty; the 8.3 name is
// still taken from a search that succeeded. A file of 4 GiB or more has size
// file_size_too_large. When only the time conversion fails, date and time
// stay empty and everything else is filled.
//
// `seen_from` is given for a module of a process that sees the system folders
// under other names (os::ProcessSource::folders_seen_otherwise): the file is
// then looked up where that process finds it, and the short path is spelled
// with the folder the process named.
void gather_file_facts(const char* upper_path, FileFacts& facts, bool read_version,
                       const os::SystemFolders* seen_from = nullptr) noexcept;

// Puts the facts into the record: szPath, szShortName when it is empty,
// dwFileSize, szVersion, szDate and szTime.
void apply_file_facts(const FileFacts& facts, ModuleRecord& record) noexcept;

// Writes the file version of `path` as "%u.%u.%u.%u" (cut to 19 characters
// when the four numbers need more); empties the text when the file has no
// readable version data or version data without the fixed block.
void GetFileVersionText(const char* path, char (&text)[20]) noexcept;

}  // namespace korvex::snapshot
