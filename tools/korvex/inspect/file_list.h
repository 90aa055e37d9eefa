// The files inspect works on, from its arguments: names as given, lists
// read from a file or stdin, and folders walked.
#pragma once

#include <string>
#include <vector>

namespace korvex::host {

struct FileArguments {
    std::vector<std::string> files;  // "-": names read from stdin, one a line
    std::string files_from;          // a file of names, one a line ("-": stdin)
    bool recursive = false;          // the files in folders, and in their folders
};

// Every file `arguments` names, in order: a pattern expands to the files it
// matches (where the shell leaves that to the program), a "-" argument and
// --files-from add the lines of stdin or of a file, and with `recursive` a
// folder adds the ordinary files under it, sorted by name (symbolic links to
// folders are not followed). Anything else is kept as given, for the command
// to report. False with `error` when a list cannot be read.
bool collect_files(const FileArguments& arguments, std::vector<std::string>& files,
                   std::string& error);

}  // namespace korvex::host
