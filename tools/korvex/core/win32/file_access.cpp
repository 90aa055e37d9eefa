// Reading files and folders under Windows and Wine: a file opened once and
// read through that one handle (InputFile), what a path that lookups call
// missing is, and the folder listing of the walk.
#include "core/host_os.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>

namespace korvex::host {

namespace {

// ERROR_NO_SUCH_DEVICE, which MinGW's headers lack: Wine's answer to opening
// a Unix socket, or a device node without its driver.
constexpr DWORD no_such_device = 433;

}  // namespace

bool opens_as_device(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == no_such_device;
    const bool device = GetFileType(file) != FILE_TYPE_DISK;
    CloseHandle(file);
    return device;
}

FileIdentity identity_of_mapped_file(std::intptr_t handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &info)) return {};
    return {info.dwVolumeSerialNumber,
            (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

InputFile::~InputFile() { close(); }

void InputFile::close() {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

bool InputFile::open(const std::string& path, bool follow_link, std::string& problem) {
    close();
    // FILE_SHARE_READ alone: no other program may write the file while it
    // is read. FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which is
    // then refused.
    const DWORD flags =
        FILE_FLAG_SEQUENTIAL_SCAN | (follow_link ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        problem = code == ERROR_ACCESS_DENIED &&
                          (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                          GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES
                      ? "is a folder"
                      : "cannot be opened (" + system_error_text(static_cast<int>(code)) + ")";
        return false;
    }
    // NUL, CON, COM1 and pipes open as files do.
    BY_HANDLE_FILE_INFORMATION info{};
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK) {
        problem = "is a device, not a file";
    } else if (!GetFileInformationByHandle(file, &info) || !GetFileSizeEx(file, &size)) {
        problem =
            "cannot be examined (" + system_error_text(static_cast<int>(GetLastError())) + ")";
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        problem = "is a folder";
    } else if (!follow_link && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        problem = "is a link, not followed";
    } else {
        handle_ = reinterpret_cast<std::intptr_t>(file);
        identity_ = {info.dwVolumeSerialNumber,
                     (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
        size_ = static_cast<std::uint64_t>(size.QuadPart);
        return true;
    }
    CloseHandle(file);
    return false;
}

std::int64_t InputFile::read_at(std::uint64_t offset, void* into, std::size_t length,
                                std::string& error) const {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length, 1u << 30));
    if (ReadFile(reinterpret_cast<HANDLE>(handle_), into, chunk, &got, &at)) return got;
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    error = system_error_text(static_cast<int>(GetLastError()));
    return -1;
}

// The folder listing of the walk under Windows and Wine, through the ANSI
// calls the library's paths are made for. The folder is opened once for its
// identity (volume serial and file index), its entries are read to the end
// with FindFirstFileA, and every handle is closed before answering.
//
// Wine reports a Unix link to a folder as a folder with
// FILE_ATTRIBUTE_REPARSE_POINT (and reparse tag 0), a link to a file as the
// file, and leaves a link to nothing out of the listing; a FIFO, device or
// socket is listed as a file that GetFileAttributesA does not answer for.
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
        else if (code == no_such_device)
            entry.kind = EntryKind::device;
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

// The folder that holds the folder open under `folder`, found from the path
// the system resolved for that handle (every link on the way followed), not
// from the path korvex named: a parent swapped for a link shows here.
FolderIdentity parent_identity(HANDLE folder) {
    std::vector<wchar_t> path(32768);
    const DWORD length =
        GetFinalPathNameByHandleW(folder, path.data(), static_cast<DWORD>(path.size()), 0);
    if (length == 0 || length >= path.size()) return {};
    std::wstring resolved(path.data(), length);
    while (!resolved.empty() && (resolved.back() == L'\\' || resolved.back() == L'/'))
        resolved.pop_back();
    const auto slash = resolved.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    // A folder is named without a trailing separator; a drive's root keeps it.
    resolved.resize(slash);
    if (!resolved.empty() && resolved.back() == L':') resolved += L'\\';
    HANDLE parent = CreateFileW(resolved.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (parent == INVALID_HANDLE_VALUE) return {};
    const FolderIdentity identity =
        identity_of_mapped_file(reinterpret_cast<std::intptr_t>(parent));
    CloseHandle(parent);
    return identity;
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
    listing.parent = parent_identity(folder);
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

FolderListing list_folder_matching(const std::string& path, std::string_view prefix,
                                   std::size_t max_names, std::size_t max_entries) {
    // The system matches the names: only korvex's own are handed over.
    FolderListing listing;
    WIN32_FIND_DATAA found;
    HANDLE search =
        FindFirstFileA(joined(path, (std::string(prefix) + "*").c_str()).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        listing.read = code == ERROR_FILE_NOT_FOUND;
        if (!listing.read) listing.problem = system_error_text(static_cast<int>(code));
        return listing;
    }
    std::size_t names = 0;
    do {
        const std::string name = found.cFileName;
        // A case-blind match may hand over names korvex would not make.
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        FolderEntry& entry = listing.entries.emplace_back();
        if (!spell_name(found, entry)) continue;
        const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            entry.kind = link ? EntryKind::link_to_folder : EntryKind::folder;
        else
            entry.kind = link ? EntryKind::unknown : EntryKind::file;
    } while (++names < max_names && listing.entries.size() < max_entries &&
             FindNextFileA(search, &found));
    FindClose(search);
    listing.read = true;
    return listing;
}

}  // namespace korvex::host
