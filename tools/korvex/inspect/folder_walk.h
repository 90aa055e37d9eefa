// A walk of folder trees that holds one folder open at a time: each folder is
// read whole and closed before any folder below it is opened, and the folders
// still to read wait on the walk's own stack. Depth is then bounded by memory
// and by the limits below, never by the number of files a process may hold
// open. Links to folders are never followed, and a folder already walked (the
// same volume and file index, reached again through a bind mount or a link the
// system did not mark) is refused. A folder is opened by its path, so each one
// opened must lie in the folder that listed it (its ".." is that folder): a
// folder on the path swapped for a link meanwhile would take the walk out of
// the tree, and is caught there.
//
// The platform answers one question, list_folder (core/host_os.h); the walk
// itself is portable and takes the lister as an argument, so tests drive it
// over trees held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/host_os.h"

namespace korvex::host {

using FolderLister = std::function<FolderListing(const std::string& path, bool follow_link,
                                                 std::size_t max_entries)>;

// The most one run examines: entries of every kind in all the folders walked,
// and folders below the one named. Both bound the walk's memory (the paths it
// keeps) and its time (one look at each entry).
struct WalkLimits {
    std::size_t entries = max_folder_entries;
    std::size_t depth = 256;
};

// Something a walk passed over: a folder it could not read, an entry that is
// not a file, a link it does not follow, or a limit reached. `error` tells a
// failure (the tree may hold files that were not found) from an entry that is
// simply not a file to inspect.
struct WalkSkip {
    std::string path;
    std::string reason;
    bool error = false;
};

class FolderWalk {
public:
    explicit FolderWalk(FolderLister lister = list_folder, WalkLimits limits = {});

    // Adds the files under `root` to `files`, sorted by path as Windows lists
    // names (windows_name_less: letter case ignored), and what was
    // passed over to skips(), in the order met (each folder's entries by
    // name). Folders walked by an earlier call of the same walk are refused
    // as a loop would be, and the limits count across calls.
    void walk(const std::string& root, std::vector<std::string>& files);

    [[nodiscard]] const std::vector<WalkSkip>& skips() const { return skips_; }
    [[nodiscard]] std::size_t skipped_for_errors() const;

private:
    struct Pending {
        std::string path;
        std::size_t depth;
        FolderIdentity parent;  // of the folder that listed it
    };

    void read_folder(const Pending& folder, bool follow_link, std::vector<std::string>& found,
                     std::vector<Pending>& stack);
    void skip(const std::string& path, std::string reason, bool error);

    FolderLister lister_;
    WalkLimits limits_;
    std::size_t entries_seen_ = 0;
    bool stopped_ = false;
    std::set<FolderIdentity> walked_;
    std::vector<WalkSkip> skips_;
};

}  // namespace korvex::host
