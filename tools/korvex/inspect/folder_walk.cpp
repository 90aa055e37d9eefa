#include "inspect/folder_walk.h"

#include <algorithm>
#include <utility>

#include "core/host_os.h"
#include "core/text.h"

namespace korvex::host {

namespace {

// Why an entry is passed over, and whether that is a failure: a link to
// nothing names a file that is missing, as a missing FILE argument does; the
// rest are simply not files to inspect.
std::pair<std::string, bool> skip_reason(const FolderEntry& entry) {
    switch (entry.kind) {
        case EntryKind::link_to_folder:
            return {"is a link to a folder, not followed: skipped", false};
        case EntryKind::dangling_link:
            return {"is a link to nothing: skipped", true};
        case EntryKind::fifo:
            return {"is a FIFO, not a file: skipped", false};
        case EntryKind::socket:
            return {"is a socket, not a file: skipped", false};
        case EntryKind::device:
            return {"is a device, not a file: skipped", false};
        default:
            return {"cannot be examined (" + entry.problem + "): skipped", true};
    }
}

}  // namespace

FolderWalk::FolderWalk(FolderLister lister, WalkLimits limits)
    : lister_(std::move(lister)), limits_(limits) {}

std::size_t FolderWalk::skipped_for_errors() const {
    return static_cast<std::size_t>(
        std::count_if(skips_.begin(), skips_.end(), [](const WalkSkip& s) { return s.error; }));
}

void FolderWalk::skip(const std::string& path, std::string reason, bool error) {
    skips_.push_back({path, std::move(reason), error});
}

void FolderWalk::walk(const std::string& root, std::vector<std::string>& files) {
    std::vector<std::string> found;
    std::vector<Pending> stack;
    read_folder({root, 0, {}}, true, found, stack);
    while (!stack.empty() && !stopped_) {
        const Pending folder = std::move(stack.back());
        stack.pop_back();
        read_folder(folder, false, found, stack);
    }
    std::sort(found.begin(), found.end(), windows_name_less);
    files.insert(files.end(), found.begin(), found.end());
}

void FolderWalk::read_folder(const Pending& folder, bool follow_link,
                             std::vector<std::string>& found, std::vector<Pending>& stack) {
    if (stopped_) return;
    // One entry past what the run may still examine, to tell that it stops
    // here; a folder of millions of entries is never held whole.
    FolderListing listing = lister_(folder.path, follow_link, limits_.entries - entries_seen_ + 1);
    if (!listing.read) {
        skip(folder.path, "cannot be read (" + listing.problem + "): its files are not inspected",
             true);
        return;
    }
    if (folder.parent.known() && listing.parent.known() && listing.parent != folder.parent) {
        skip(folder.path,
             "was replaced while the walk went on (it no longer lies in the folder that listed "
             "it: a folder on its path became a link): its files are not inspected",
             true);
        return;
    }
    // The identity is the folder opened, not the entry listed: a loop through
    // a bind mount, or a link the system reports as a plain folder, ends here.
    if (!walked_.insert(listing.identity).second) {
        skip(folder.path, "is a folder already walked: not walked again", false);
        return;
    }
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    std::vector<Pending> below;
    for (const auto& entry : listing.entries) {
        if (entries_seen_ == limits_.entries) {
            skip(folder.path,
                 "is where the walk stopped: " + std::to_string(limits_.entries) +
                     " entries is the most one run examines, and the rest is not inspected",
                 true);
            stopped_ = true;
            return;
        }
        ++entries_seen_;
        const std::string path = joined_path(folder.path, entry.name);
        if (entry.kind == EntryKind::file) {
            found.push_back(path);
        } else if (entry.kind == EntryKind::folder) {
            if (folder.depth == limits_.depth)
                skip(path,
                     "is not walked: it lies " + std::to_string(limits_.depth + 1) +
                         " folders deep, and a walk goes " + std::to_string(limits_.depth) +
                         " deep at most",
                     true);
            else
                below.push_back({path, folder.depth + 1, listing.identity});
        } else {
            auto [reason, error] = skip_reason(entry);
            skip(path, std::move(reason), error);
        }
    }
    // Pushed in reverse, so that folders are read in name order.
    stack.insert(stack.end(), std::make_move_iterator(below.rbegin()),
                 std::make_move_iterator(below.rend()));
}

}  // namespace korvex::host
