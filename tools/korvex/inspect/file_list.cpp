#include "inspect/file_list.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <istream>
#include <system_error>

#include "core/command.h"
#include "core/host_os.h"
#include "core/text.h"

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

std::size_t name_start(const std::string& path) {
    const auto separator = path.find_last_of(path_separator == '/' ? "/" : "/\\:");
    return separator == std::string::npos ? 0 : separator + 1;
}

bool is_pattern(std::string_view text) { return text.find_first_of("*?") != text.npos; }

// Walks `folder` and keeps the files whose names match `pattern` (when
// given) and one of `include`.
void walk_files(FolderWalk& walk, const std::string& folder, const std::string& pattern,
                const std::vector<std::string>& include, std::vector<std::string>& files) {
    std::vector<std::string> found;
    walk.walk(folder, found);
    for (auto& path : found)
        if ((pattern.empty() || name_included(path, {pattern})) && name_included(path, include))
            files.push_back(std::move(path));
}

}  // namespace

std::optional<WalkPattern> walk_pattern(const std::string& argument) {
    const std::size_t start = name_start(argument);
    const std::string folder = argument.substr(0, start);
    if (!is_pattern(argument.substr(start)) || is_pattern(folder)) return std::nullopt;
    return WalkPattern{folder.empty() ? "." : folder, argument.substr(start)};
}

bool name_included(const std::string& path, const std::vector<std::string>& patterns) {
    const std::string_view name = std::string_view(path).substr(name_start(path));
    return patterns.empty() ||
           std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::string& pattern) { return matches_pattern(name, pattern); });
}

bool collect_files(const FileArguments& arguments, std::vector<std::string>& files,
                   SkippedEntries& skipped, std::string& error, FolderWalk walk) {
    for (const auto& argument : arguments.files) {
        if (argument == "-") {
            if (!read_list(argument, files, error)) return false;
            continue;
        }
        std::error_code ignored;
        if (const auto walked = walk_pattern(argument);
            arguments.recursive && walked && !fs::exists(native_path(argument), ignored) &&
            fs::is_directory(native_path(walked->folder), ignored)) {
            walk_files(walk, walked->folder, walked->pattern, arguments.include, files);
            continue;
        }
        for (const auto& name : expand_file_argument(argument)) {
            if (arguments.recursive && fs::is_directory(native_path(name), ignored))
                walk_files(walk, name, {}, arguments.include, files);
            else
                files.push_back(name);
        }
    }
    for (const auto& skip : walk.skips())
        report_error(terminal_text(skip.path) + " " + skip.reason + ".");
    skipped = {walk.skips().size(), walk.skipped_for_errors()};
    return arguments.files_from.empty() || read_list(arguments.files_from, files, error);
}

}  // namespace korvex::host
