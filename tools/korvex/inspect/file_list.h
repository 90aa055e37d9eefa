// The files inspect works on, from its arguments: names as given, lists
// read from a file or stdin, and folders walked.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "inspect/folder_walk.h"

namespace korvex::host {

struct FileArguments {
    std::vector<std::string> files;    // "-": names read from stdin, one a line
    std::string files_from;            // a file of names, one a line ("-": stdin)
    bool recursive = false;            // the files in folders, and in their folders
    std::vector<std::string> include;  // name patterns a walk's files must match one of
};

// A FILE argument of a walk that is a pattern in its last part
// ("dir/*.node"): the folder to walk and the pattern the names of the files
// found must match, at any depth, as Windows' `dir /s dir\*.node` takes it.
struct WalkPattern {
    std::string folder;   // "." for a bare pattern
    std::string pattern;  // matched against file names, letter case ignored
};

// The folder and pattern of `argument`, or nothing when its last part holds
// no * or ?, or its folder part does (only the last part is a pattern).
std::optional<WalkPattern> walk_pattern(const std::string& argument);

// True when the file name of `path` (its last part) matches one of
// `patterns`, or when there are none.
bool name_included(const std::string& path, const std::vector<std::string>& patterns);

// What the folder walks passed over (inspect/folder_walk.h), each already
// reported on stderr, and how many of those were failures.
struct SkippedEntries {
    std::size_t skipped = 0;
    std::size_t errors = 0;
};

// Every file `arguments` names, in order: a pattern expands to the files it
// matches (where the shell leaves that to the program), a "-" argument and
// --files-from add the lines of stdin or of a file, and with `recursive` a
// folder adds the ordinary files under it, sorted by name, walked by
// `walk` (links to folders are not followed; every entry passed over is
// reported and counted in `skipped`) and narrowed to the names `include`
// takes. With `recursive`, an argument that names nothing but is a pattern
// in its last part walks its folder for the files whose names match. Anything else is kept as
// given, for the command to report. False with `error` when a list cannot be read.
bool collect_files(const FileArguments& arguments, std::vector<std::string>& files,
                   SkippedEntries& skipped, std::string& error, FolderWalk walk = FolderWalk());

}  // namespace korvex::host
