#include "inspect/file_list.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <istream>
#include <system_error>

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

void walk(const std::string& folder, std::vector<std::string>& files) {
    std::vector<std::string> found;
    std::error_code error;
    for (fs::recursive_directory_iterator
             it(native_path(folder), fs::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error)) {
        std::error_code ignored;
        if (it->is_regular_file(ignored)) found.push_back(library_path(it->path()));
    }
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
}

}  // namespace

bool collect_files(const FileArguments& arguments, std::vector<std::string>& files,
                   std::string& error) {
    for (const auto& argument : arguments.files) {
        if (argument == "-") {
            if (!read_list(argument, files, error)) return false;
            continue;
        }
        for (const auto& name : expand_file_argument(argument)) {
            std::error_code ignored;
            if (arguments.recursive && fs::is_directory(native_path(name), ignored))
                walk(name, files);
            else
                files.push_back(name);
        }
    }
    return arguments.files_from.empty() || read_list(arguments.files_from, files, error);
}

}  // namespace korvex::host
