#include "deps/bundle.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
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

// Whether two open files hold the same bytes, compared a block at a time.
bool same_contents(const InputFile& first, const InputFile& second) {
    if (first.size() != second.size()) return false;
    std::vector<char> left(1 << 16), right(1 << 16);
    std::string ignored;
    for (std::uint64_t at = 0; at < first.size();) {
        const std::int64_t got = first.read_at(at, left.data(), left.size(), ignored);
        if (got <= 0 ||
            second.read_at(at, right.data(), static_cast<std::size_t>(got), ignored) != got ||
            !std::equal(left.begin(), left.begin() + got, right.begin()))
            return false;
        at += static_cast<std::uint64_t>(got);
    }
    return true;
}

// Opens a file the walk read, through which it is then compared and copied:
// refused when its path reaches a file other than the one read by now (a
// link or another file put there), or anything but a regular file.
bool open_source(const std::string& source, const FileIdentity& read, InputFile& in,
                 std::string& problem) {
    if (!in.open(source, true, problem)) return false;
    if (!read.known() || in.identity() == read) return true;
    problem = "it is no longer the file korvex read: it was replaced meanwhile";
    return false;
}

// Copies one file into the bundle from the file the walk read; false when it
// may not or could not. What stands in the folder is only ever replaced by a
// rename (with --force), so a link planted there is never written through and
// a hard link keeps its contents. A copy of a file that may be run may be run
// too.
bool copy_into(const std::string& source, const FileIdentity& read, const fs::path& folder,
               bool force) {
    const fs::path target = folder / fs::path(source).filename();
    InputFile in;
    std::string problem;
    if (!open_source(source, read, in, problem)) {
        report_error(source + " was not copied to " + folder.string() + " (" + problem + ").");
        return false;
    }
    std::error_code error;
    const auto standing = fs::symlink_status(target, error);
    if (fs::exists(standing)) {
        // Only an ordinary file of the same bytes counts as already there.
        InputFile there;
        std::string ignored;
        if (fs::is_regular_file(standing) && there.open(target.string(), false, ignored) &&
            (there.identity() == in.identity() || same_contents(in, there)))
            return true;
        if (!force) {
            report_error(target.string() + " exists and differs from " + source +
                         "; it was not replaced (--force replaces it).");
            return false;
        }
    }
    std::string reason;
    const FileMode mode = in.executable() ? FileMode::executable : FileMode::plain;
    const MoveResult placed = place_file(target.string(), file_source(in), force, reason, mode);
    if (placed != MoveResult::moved) {
        report_error(
            source + " could not be copied to " + folder.string() + " (" +
            (placed == MoveResult::target_exists ? "a file of that name appeared" : reason) + ").");
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
    FileIdentity read;  // the file the walk read at `source`
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
    // Another user who may add, remove or rename its entries could swap a
    // copy for something else between its placing and its use.
    if (!force && folder_open_to_others(copy_to)) {
        report_error("the folder " + copy_to +
                     " belongs to another user or may be changed by other users; nothing was "
                     "copied (--force copies into it all the same).");
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
            const auto [planned, added] = files.try_emplace(
                folded_name(source), BundleFile{source, graph.root, node.file->identity});
            if (added) {
                order.push_back(planned->first);
                continue;
            }
            BundleFile& first = planned->second;
            InputFile first_file, second_file;
            std::string ignored;
            if (first.source == source ||
                (first.read.known() && first.read == node.file->identity) ||
                (open_source(first.source, first.read, first_file, ignored) &&
                 open_source(source, node.file->identity, second_file, ignored) &&
                 same_contents(first_file, second_file)))
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
            complete = copy_into(file.source, file.read, folder, force) && complete;
    return complete;
}

}  // namespace korvex::host
