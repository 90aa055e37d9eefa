// The folder listing of the walk under Windows and Wine, through the ANSI
// calls the library's paths are made for. The folder is opened once for its
// identity (volume serial and file index), its entries are read to the end
// with FindFirstFileA, and every handle is closed before answering.
//
// Wine reports a Unix link to a folder as a folder with
// FILE_ATTRIBUTE_REPARSE_POINT (and reparse tag 0), a link to a file as the
// file, and leaves a link to nothing out of the listing; a FIFO, device or
// socket is listed as a file that GetFileAttributesA does not answer for.
#include <windows.h>

#include "core/folder_walk.h"
#include "core/host_os.h"

namespace korvex::host {

namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string joined(const std::string& folder, const char* name) {
    const bool separated = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
    return separated ? folder + name : folder + '\\' + name;
}

std::string last_error_text() { return system_error_text(static_cast<int>(GetLastError())); }

// What a non-folder entry is: a disk file, or what the handle opened on it
// says it is. The open follows a link, so a link to nothing fails there.
void examine(const std::string& path, bool link, FolderEntry& entry) {
    if (!link && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        entry.kind = EntryKind::file;
        return;
    }
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (link && (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND))
            entry.kind = EntryKind::dangling_link;
        else
            entry.problem = system_error_text(static_cast<int>(code));
        return;
    }
    switch (GetFileType(file)) {
        case FILE_TYPE_DISK:
            entry.kind = EntryKind::file;
            break;
        case FILE_TYPE_PIPE:
            entry.kind = EntryKind::fifo;
            break;
        default:
            entry.kind = EntryKind::device;
            break;
    }
    CloseHandle(file);
}

// A name the ANSI code page cannot spell comes back with "?" in it, which no
// Windows name holds; its 8.3 alias reaches the same file.
bool spell_name(const WIN32_FIND_DATAA& found, FolderEntry& entry) {
    entry.name = found.cFileName;
    if (entry.name.find('?') == std::string::npos) return true;
    if (found.cAlternateFileName[0] != '\0') {
        entry.name = found.cAlternateFileName;
        return true;
    }
    entry.problem = "its name has characters the ANSI code page cannot spell, and no 8.3 alias";
    return false;
}

}  // namespace

FolderListing list_folder(const std::string& path, bool follow_link, std::size_t max_entries) {
    FolderListing listing;
    const DWORD flags =
        FILE_FLAG_BACKUP_SEMANTICS | (follow_link ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE folder = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                                OPEN_EXISTING, flags, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        listing.problem = last_error_text();
        return listing;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(folder, &info) != FALSE;
    CloseHandle(folder);
    if (!known) {
        listing.problem = last_error_text();
        return listing;
    }
    if (!follow_link && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        listing.problem = "it was replaced by a link";
        return listing;
    }
    listing.identity = {info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(joined(path, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        listing.problem = last_error_text();
        return listing;
    }
    bool full = false;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        if (listing.entries.size() == max_entries) {
            full = true;
            break;
        }
        FolderEntry& entry = listing.entries.emplace_back();
        if (!spell_name(found, entry)) continue;
        const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            entry.kind = link ? EntryKind::link_to_folder : EntryKind::folder;
        else
            examine(joined(path, entry.name.c_str()), link, entry);
    } while (FindNextFileA(search, &found));
    const DWORD ended = GetLastError();
    FindClose(search);
    listing.read = full || ended == ERROR_NO_MORE_FILES;
    if (!listing.read) listing.problem = system_error_text(static_cast<int>(ended));
    return listing;
}

}  // namespace korvex::host
