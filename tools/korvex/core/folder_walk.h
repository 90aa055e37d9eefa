// A walk of folder trees that holds one folder open at a time: each folder is
// read whole and closed before any folder below it is opened, and the folders
// still to read wait on the walk's own stack. Depth is then bounded by memory
// and by the limits below, never by the number of files a process may hold
// open. Links to folders are never followed, and a folder already walked (the
// same volume and file index, reached again through a bind mount or a link the
// system did not mark) is refused.
//
// The platform answers one question, list_folder (core/posix/folder_walk.cpp,
// core/win32/folder_walk.cpp); the walk itself (core/folder_walk.cpp) is
// portable and takes the lister as an argument, so tests drive it over trees
// held in memory.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace korvex::host {

// What one entry of a folder is, as far as a walk for files cares.
enum class EntryKind {
    file,            // an ordinary file, or a link to one
    folder,          // a folder itself, to be walked
    link_to_folder,  // never followed
    dangling_link,   // a link to nothing
    fifo,
    socket,
    device,
    unknown,  // could not be examined (`problem` says why)
};

// Which folder a listing read: the device (volume serial under Windows) and
// the file number (inode, file index) of the folder opened.
struct FolderIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    auto operator<=>(const FolderIdentity&) const = default;
};

struct FolderEntry {
    std::string name;  // the name alone, as the library takes it
    EntryKind kind = EntryKind::unknown;
    std::string problem;  // for unknown: the system's reason
};

struct FolderListing {
    bool read = false;    // false: the folder could not be opened or read
    std::string problem;  // then the system's reason
    FolderIdentity identity;
    std::vector<FolderEntry> entries;  // every entry but "." and ".."
};

// Reads the entries of the folder at `path`, at most `max_entries` of them,
// and closes it before answering. A link at `path` itself is followed only
// when `follow_link` (the folder a user named); a folder found in a walk is
// opened without following one, so that a folder swapped for a link after it
// was listed is not walked.
FolderListing list_folder(const std::string& path, bool follow_link, std::size_t max_entries);

using FolderLister = std::function<FolderListing(const std::string& path, bool follow_link,
                                                 std::size_t max_entries)>;

// The most one run examines: entries of every kind in all the folders walked,
// and folders below the one named. Both bound the walk's memory (the paths it
// keeps) and its time (one look at each entry).
struct WalkLimits {
    std::size_t entries = 1'000'000;
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

    // Adds the files under `root` to `files`, sorted by path, and what was
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
