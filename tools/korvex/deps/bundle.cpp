#include "deps/bundle.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <system_error>

#include "core/command.h"
#include "core/console.h"
#include "core/files.h"
#include "core/host_os.h"
#include "core/text.h"

namespace korvex::host {

namespace {

namespace fs = std::filesystem;

bool same_contents(const fs::path& a, const fs::path& b) {
    std::error_code error;
    if (fs::file_size(a, error) != fs::file_size(b, error) || error) return false;
    std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
    std::vector<char> left(1 << 16), right(1 << 16);
    while (first && second) {
        first.read(left.data(), static_cast<std::streamsize>(left.size()));
        second.read(right.data(), static_cast<std::streamsize>(right.size()));
        if (first.gcount() != second.gcount() ||
            !std::equal(left.begin(), left.begin() + first.gcount(), right.begin()))
            return false;
    }
    return first.eof() && second.eof();
}

// Copies one file into the bundle; false when it may not or could not. What
// stands in the folder is only ever replaced by a rename (with --force), so
// a link planted there is never written through and a hard link keeps its
// contents. A copy of a file that may be run may be run too.
bool copy_into(const std::string& source, const fs::path& folder, bool force) {
    const fs::path target = folder / fs::path(source).filename();
    std::error_code error;
    const auto standing = fs::symlink_status(target, error);
    if (fs::exists(standing)) {
        // Only an ordinary file of the same bytes counts as already there.
        if (fs::is_regular_file(standing) &&
            (fs::equivalent(source, target, error) || same_contents(source, target)))
            return true;
        if (!force) {
            report_error(target.string() + " exists and differs from " + source +
                         "; it was not replaced (--force replaces it).");
            return false;
        }
    }
    std::ifstream in(native_path(source), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string reason;
    const FileMode mode = is_executable_file(source) ? FileMode::executable : FileMode::plain;
    const MoveResult placed =
        in.bad() ? MoveResult::failed : place_file(target.string(), bytes, force, reason, mode);
    if (placed != MoveResult::moved) {
        report_error(source + " could not be copied to " + folder.string() + " (" +
                     (placed == MoveResult::target_exists ? "a file of that name appeared"
                      : in.bad()                          ? "it could not be read"
                                                          : reason) +
                     ").");
        return false;
    }
    print_note("copied " + source + " to " + target.string());
    return true;
}

// A file name as Windows compares it, which the bundle is for: two names
// that differ only in case are one.
std::string folded_name(const std::string& path) {
    std::string name = fs::path(path).filename().string();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    });
    return name;
}

// One file of the bundle: where it comes from and the program that needs it.
struct BundleFile {
    std::string source;
    std::string program;
    bool conflict = false;
};

}  // namespace

bool copy_bundle(const std::vector<DependencyGraph>& graphs, const std::string& copy_to,
                 bool force) {
    std::error_code error;
    const fs::path folder(copy_to);
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder)) {
        report_error("the folder " + copy_to + " could not be created (" +
                     (error ? error.message() : "a file of that name is in the way") + ").");
        return false;
    }
    std::map<std::string, BundleFile> files;
    std::vector<std::string> order;
    std::set<std::string> wine_builds;
    bool complete = true;
    for (const auto& graph : graphs) {
        if (!graph.problem.empty()) continue;
        for (const auto& node : graph.nodes) {
            if (node.file == nullptr || node.system) continue;
            const std::string& source = node.file->path;
            // Wine's own build in the system folder stands in for a DLL the
            // program's vendor ships (the Visual C++ runtime, zlib1): it is
            // not theirs, and Wine would not load it beside the program.
            if (node.not_windows && node.file->wine_build) {
                if (wine_builds.insert(source).second)
                    report_error("only Wine's own build of " +
                                 fs::path(source).filename().string() + " was found (" + source +
                                 ", for " + graph.root +
                                 "); it was not copied: the program needs its vendor's "
                                 "redistributable, beside it or in a folder named with "
                                 "--search FOLDER.");
                complete = false;
                continue;
            }
            const auto [planned, added] =
                files.try_emplace(folded_name(source), BundleFile{source, graph.root});
            if (added) {
                order.push_back(planned->first);
                continue;
            }
            BundleFile& first = planned->second;
            if (first.source == source ||
                fs::equivalent(native_path(first.source), native_path(source), error) ||
                same_contents(native_path(first.source), native_path(source)))
                continue;
            report_error(first.source + " (for " + first.program + ") and " + source + " (for " +
                         graph.root + ") differ but would both be " +
                         fs::path(source).filename().string() + " in " + copy_to +
                         "; neither was copied.");
            first.conflict = true;
            complete = false;
        }
    }
    for (const auto& name : order)
        if (const BundleFile& file = files.at(name); !file.conflict)
            complete = copy_into(file.source, folder, force) && complete;
    return complete;
}

}  // namespace korvex::host
