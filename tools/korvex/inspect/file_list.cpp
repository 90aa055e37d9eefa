#include "inspect/file_list.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <istream>
#include <system_error>

#include "core/command.h"
#include "core/host_os.h"

namespace korvex::host {

namespace {

namespace fs = std::filesystem;

void read_lines(std::istream& in, std::vector<std::string>& files) {
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) files.push_back(line);
    }
}

bool read_list(const std::string& list, std::vector<std::string>& files, std::string& error) {
    if (list == "-") {
        read_lines(std::cin, files);
        return true;
    }
    std::ifstream in(list, std::ios::binary);
    if (!in) {
        error = "the list " + list + " cannot be read.";
        return false;
    }
    read_lines(in, files);
    return true;
}

}  // namespace

bool collect_files(const FileArguments& arguments, std::vector<std::string>& files,
                   SkippedEntries& skipped, std::string& error, FolderWalk walk) {
    for (const auto& argument : arguments.files) {
        if (argument == "-") {
            if (!read_list(argument, files, error)) return false;
            continue;
        }
        for (const auto& name : expand_file_argument(argument)) {
            std::error_code ignored;
            if (arguments.recursive && fs::is_directory(native_path(name), ignored))
                walk.walk(name, files);
            else
                files.push_back(name);
        }
    }
    for (const auto& skip : walk.skips()) report_error(skip.path + " " + skip.reason + ".");
    skipped = {walk.skips().size(), walk.skipped_for_errors()};
    return arguments.files_from.empty() || read_list(arguments.files_from, files, error);
}

}  // namespace korvex::host
