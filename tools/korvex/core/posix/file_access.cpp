// Reading files and folders on Linux and other POSIX systems: a file opened
// once and read through that one handle (InputFile), and the folder listing
// of the walk.
#include "core/host_os.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace korvex::host {

bool opens_as_device(const std::string&) { return false; }
namespace {

FileIdentity identity_of(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

std::string kind_problem(mode_t mode) {
    if (S_ISDIR(mode)) return "is a folder";
    if (S_ISLNK(mode)) return "is a link, not followed";
    return "is a device, not a file";
}

}  // namespace

FileIdentity identity_of_mapped_file(std::intptr_t held) {
    struct stat status {};
    return held > 0 && fstat(static_cast<int>(held - 1), &status) == 0 ? identity_of(status)
                                                                       : FileIdentity{};
}

InputFile::~InputFile() { close(); }

void InputFile::close() {
    if (handle_ != -1) ::close(static_cast<int>(handle_));
    handle_ = -1;
}

bool InputFile::open(const std::string& path, bool follow_link, std::string& problem) {
    close();
    const int no_follow = follow_link ? 0 : O_NOFOLLOW;
    struct stat status {};
#ifdef O_PATH
    // O_PATH names the file without opening it: no FIFO waits, no device
    // acts. The file itself is opened through /proc only once it is known
    // to be a regular file, and that reaches the same inode, whatever the
    // path names by then.
    const int located = ::open(path.c_str(), O_PATH | O_CLOEXEC | no_follow);
    if (located < 0) {
        problem = "cannot be opened (" + system_error_text(errno) + ")";
        return false;
    }
    if (fstat(located, &status) != 0 || !S_ISREG(status.st_mode)) {
        problem = S_ISREG(status.st_mode) || status.st_mode == 0
                      ? "cannot be examined (" + system_error_text(errno) + ")"
                      : kind_problem(status.st_mode);
        ::close(located);
        return false;
    }
    const std::string reopen = "/proc/self/fd/" + std::to_string(located);
    int file = ::open(reopen.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    const bool without_proc = file < 0 && errno == ENOENT;
    ::close(located);
    // Without /proc mounted, the path is opened again; the identity compared
    // below tells whether it still names the file examined.
    if (without_proc)
        file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | no_follow);
#else
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | no_follow);
#endif
    if (file < 0) {
        problem = errno == ELOOP && !follow_link
                      ? "is a link, not followed"
                      : "cannot be opened (" + system_error_text(errno) + ")";
        return false;
    }
    const FileIdentity examined = identity_of(status);
    if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode) ||
        (examined.known() && identity_of(status) != examined)) {
        problem = !S_ISREG(status.st_mode) ? kind_problem(status.st_mode)
                                           : "was replaced while it was opened";
        ::close(file);
        return false;
    }
    handle_ = file;
    identity_ = identity_of(status);
    size_ = static_cast<std::uint64_t>(status.st_size);
    executable_ = (status.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
    return true;
}

std::int64_t InputFile::read_at(std::uint64_t offset, void* into, std::size_t length,
                                std::string& error) const {
    for (;;) {
        const ssize_t got =
            pread(static_cast<int>(handle_), into, length, static_cast<off_t>(offset));
        if (got >= 0) return got;
        if (errno != EINTR) {
            error = system_error_text(errno);
            return -1;
        }
    }
}

// The folder listing of the walk natively: the folder opened once (never
// through a link unless the user named it), its entries read to the end and
// examined through the open folder with fstatat, then closed.
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
    listing.identity = identity_of(info);
    // ".." through the folder opened: the folder it really lies in, whatever
    // the path named on the way.
    if (struct stat parent{}; fstatat(folder, "..", &parent, AT_SYMLINK_NOFOLLOW) == 0)
        listing.parent = identity_of(parent);
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

FolderListing list_folder_matching(const std::string& path, std::string_view prefix,
                                   std::size_t max_names, std::size_t max_entries) {
    FolderListing listing;
    const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    DIR* entries = folder < 0 ? nullptr : fdopendir(folder);
    if (entries == nullptr) {
        listing.problem = system_error_text(errno);
        if (folder >= 0) close(folder);
        return listing;
    }
    errno = 0;
    for (std::size_t names = 0; names < max_names && listing.entries.size() < max_entries;
         ++names) {
        errno = 0;
        const dirent* entry = readdir(entries);
        if (entry == nullptr) break;
        const std::string_view name = entry->d_name;
        if (name.substr(0, prefix.size()) != prefix || name == "." || name == "..") continue;
        listing.entries.push_back({std::string(name), EntryKind::unknown, {}});
        examine(folder, listing.entries.back());
    }
    listing.read = errno == 0;
    if (!listing.read) listing.problem = system_error_text(errno);
    closedir(entries);
    return listing;
}

}  // namespace korvex::host
