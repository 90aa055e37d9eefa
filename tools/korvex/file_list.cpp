#include "file_list.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <istream>
#include <system_error>

#include "text.h"

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

// The name of a directory entry as the library takes it.
std::string entry_name(const fs::path& path) {
#ifdef _WIN32
    return ansi_argument(path.wstring().c_str());
#else
    return path.string();
#endif
}

void walk(const std::string& folder, std::vector<std::string>& files) {
    std::vector<std::string> found;
    std::error_code error;
    for (fs::recursive_directory_iterator
             it(native_path(folder), fs::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error)) {
        std::error_code ignored;
        if (it->is_regular_file(ignored)) found.push_back(entry_name(it->path()));
    }
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
}

}  // namespace

bool collect_files(const InspectOptions& options, std::vector<std::string>& files,
                   std::string& error) {
    for (const auto& name : options.files) {
        std::error_code ignored;
        if (name == "-") {
            if (!read_list(name, files, error)) return false;
        } else if (options.recursive && fs::is_directory(native_path(name), ignored)) {
            walk(name, files);
        } else {
            files.push_back(name);
        }
    }
    return options.files_from.empty() || read_list(options.files_from, files, error);
}

}  // namespace korvex::host
