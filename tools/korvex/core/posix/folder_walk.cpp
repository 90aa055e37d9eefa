// The folder listing of the walk natively: the folder opened once (never
// through a link unless the user named it), its entries read to the end and
// examined through the open folder with fstatat, then closed.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/folder_walk.h"
#include "core/host_os.h"

namespace korvex::host {

namespace {

EntryKind kind_of(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::file;
    if (S_ISDIR(mode)) return EntryKind::folder;
    if (S_ISFIFO(mode)) return EntryKind::fifo;
    if (S_ISSOCK(mode)) return EntryKind::socket;
    return EntryKind::device;
}

void examine(int folder, FolderEntry& entry) {
    struct stat info {};
    if (fstatat(folder, entry.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        entry.problem = system_error_text(errno);
        return;
    }
    if (!S_ISLNK(info.st_mode)) {
        entry.kind = kind_of(info.st_mode);
        return;
    }
    if (fstatat(folder, entry.name.c_str(), &info, 0) != 0) {
        // ELOOP: a chain of links that ends nowhere but in itself.
        if (errno == ENOENT || errno == ELOOP || errno == ENOTDIR)
            entry.kind = EntryKind::dangling_link;
        else
            entry.problem = system_error_text(errno);
        return;
    }
    entry.kind = S_ISDIR(info.st_mode) ? EntryKind::link_to_folder : kind_of(info.st_mode);
}

}  // namespace

FolderListing list_folder(const std::string& path, bool follow_link, std::size_t max_entries) {
    FolderListing listing;
    // O_DIRECTORY fails at once on a FIFO put in the folder's place, which an
    // open without it would wait on.
    const int flags =
        O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK | (follow_link ? 0 : O_NOFOLLOW);
    const int folder = open(path.c_str(), flags);
    if (folder < 0) {
        listing.problem =
            errno == ELOOP && !follow_link ? "it was replaced by a link" : system_error_text(errno);
        return listing;
    }
    struct stat info {};
    DIR* entries = fstat(folder, &info) == 0 ? fdopendir(folder) : nullptr;
    if (entries == nullptr) {
        listing.problem = system_error_text(errno);
        close(folder);
        return listing;
    }
    listing.identity = {static_cast<std::uint64_t>(info.st_dev),
                        static_cast<std::uint64_t>(info.st_ino)};
    while (listing.entries.size() < max_entries) {
        errno = 0;
        const dirent* entry = readdir(entries);
        if (entry == nullptr) break;
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        listing.entries.push_back({name, EntryKind::unknown, {}});
        examine(folder, listing.entries.back());
    }
    listing.read = errno == 0;
    if (!listing.read) listing.problem = system_error_text(errno);
    closedir(entries);
    return listing;
}

}  // namespace korvex::host
