// The files a command works on, from its arguments: names as given, lists
// read from a file or stdin, and folders walked.
#pragma once

#include <string>
#include <vector>

#include "commands.h"

namespace korvex::host {

// Every file `options` names, in order: a "-" argument and --files-from add
// the lines of stdin or of a file, and with `recursive` a folder adds the
// ordinary files under it, sorted by name (symbolic links to folders are not
// followed). Anything else is kept as given, for the command to report. False
// with `error` when a list cannot be read.
bool collect_files(const InspectOptions& options, std::vector<std::string>& files,
                   std::string& error);

}  // namespace korvex::host
