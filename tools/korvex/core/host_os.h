// Everything korvex asks of the operating system, in its own words. Each
// platform answers in one file (core/win32/host_os.cpp, core/posix/host_os.cpp),
// chosen when korvex is linked; nothing else in the host branches on the
// platform.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::host {

// ---- Paths and text

// The separator korvex writes between a folder and a name, and the one
// between the folders of PATH.
extern const char path_separator;
extern const char path_list_separator;

// The library's texts are the system's 8-bit text; JSON wants UTF-8. On
// Windows that is the ANSI code page, converted; natively it is already
// UTF-8 (file names are bytes), passed through with every invalid sequence
// replaced by U+FFFD, so the result is always valid UTF-8.
std::string to_utf8(const std::string& text);

// A path korvex holds as the library takes it (ANSI on Windows), for
// std::filesystem, which would read a narrow Windows string as Latin-1.
std::filesystem::path native_path(const std::string& text);

// The name of a path std::filesystem found (a folder walk), as the library
// takes it: on Windows its ANSI spelling, or its 8.3 name where the code page
// cannot spell it.
std::string library_path(const std::filesystem::path& path);

// Under Windows, a command-line argument (UTF-16) as the ANSI functions, and
// so the library, take it: its own spelling when the ANSI code page has
// every character, else the 8.3 short name of the file it names, else the
// closest spelling (with "?" for the characters missing, which no file name
// can hold). Not used elsewhere, where arguments are bytes already.
std::string ansi_argument(const wchar_t* argument);

// Why `path` cannot even be looked up, before the file system is asked:
// longer than the library's calls take, or holding a character the code page
// could not spell. Empty when it can be.
std::string unusable_path(const std::string& path);

// The files a command-line FILE argument names. Under Windows the program
// gets its arguments as typed, so a pattern (* and ?) in the last part is
// matched here against the folder's entries, sorted by name as Windows lists
// names (letter case ignored); an argument
// without a pattern, or one that matches nothing, is kept as given (the
// command then says what is wrong with it). Elsewhere the shell has already
// expanded what it meant to, and the argument is kept.
std::vector<std::string> expand_file_argument(const std::string& argument);

// The long name of the file at `path` where the path spells it by an 8.3
// alias ("KERN~ZT2.DLL" for "kernel32.dll"); empty when the file no longer
// exists or the system keeps no such aliases.
std::string long_file_name(const std::string& path);

// ---- Files and folders

// Why `path`, an existing file that is not a folder, cannot be read as one
// ("is a device, not a file", "cannot be opened (...)"), or empty. A device
// or pipe is never read: it could wait forever.
std::string unreadable_file_problem(const std::string& path);

// True when `path`, which the file system's lookups call missing, opens as a
// device or a pipe: under Wine a Unix FIFO or device has no attributes and
// is seen only by the handle opened on it (to read attributes, which never
// waits on a writer). False natively, where a lookup tells them apart.
bool opens_as_device(const std::string& path);
// Which file a handle reached: the device (volume serial under Windows) and
// the file number (inode, file index). Zero for both when not known.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    auto operator<=>(const FileIdentity&) const = default;
    [[nodiscard]] bool known() const { return volume != 0 || index != 0; }
};

// The identity of the file an os::MappedFile holds, given its `file` member
// as each platform's os layer keeps it (the descriptor plus one natively, the
// HANDLE under Windows); unknown when it cannot be asked.
FileIdentity identity_of_mapped_file(std::intptr_t held);

// A file korvex reads, opened once and then used through that handle alone:
// what was checked (its kind, identity and size) is what is read, whatever
// is put at its path meanwhile. Natively the path is first opened without
// opening the file itself (O_PATH), and the file is reopened through that
// handle only once it is known to be a regular file, so a FIFO, device or
// socket is never opened for reading; under Windows the handle opened is
// asked its type (a pipe, console or device is closed unread) and denies
// other programs the right to write the file while it is held.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens `path`, following a link at its end only when `follow_link`.
    // False with why in `problem` ("is a folder", "is a device, not a file",
    // "is a link, not followed", "cannot be opened (...)"), leaving nothing
    // open; a FIFO or socket is "a device, not a file" too.
    bool open(const std::string& path, bool follow_link, std::string& problem);

    [[nodiscard]] bool is_open() const { return handle_ != -1; }
    [[nodiscard]] const FileIdentity& identity() const { return identity_; }
    // The size when it was opened: what a copy of it holds.
    [[nodiscard]] std::uint64_t size() const { return size_; }
    // Natively: whether it has an execute bit, which a copy keeps.
    [[nodiscard]] bool executable() const { return executable_; }

    // Reads up to `length` bytes from `offset` into `into`: how many were
    // read (0 past the end), or -1 with the system's reason in `error`.
    std::int64_t read_at(std::uint64_t offset, void* into, std::size_t length,
                         std::string& error) const;

private:
    void close();

    std::intptr_t handle_ = -1;
    FileIdentity identity_;
    std::uint64_t size_ = 0;
    bool executable_ = false;
};

// What a file korvex writes is filled with: `size` bytes, handed over a block
// at a time by `read` (as InputFile::read_at: the count given, 0 when the
// source ended early, -1 with `error` set).
struct ByteSource {
    std::uint64_t size = 0;
    std::function<std::int64_t(std::uint64_t offset, char* into, std::size_t length,
                               std::string& error)>
        read;
};

// Bytes already in memory, and a file opened for reading, as a source. The
// file's source gives the `size()` bytes it had when it was opened; a file
// cut short meanwhile makes the copy fail rather than end early.
ByteSource bytes_source(std::string_view bytes);
ByteSource file_source(const InputFile& file);

// A random number from the system's source for secrets (getrandom,
// BCryptGenRandom): what makes a name another user cannot guess.
std::uint64_t random_number();

// The system's folder for temporary files.
std::string temporary_folder();

// Creates a new folder named `stem`, this process's id, "-" and a suffix
// of the system's choosing, readable by this user alone, and answers its path;
// it never reuses a folder that exists. False with the system's reason in
// `error`.
bool create_private_folder(const std::string& stem, std::string& path, std::string& error);

// True when `folder`, one create_private_folder made for process
// `process_id`, was left behind: it is a folder (not a link to one), this
// user's own, and that process is no longer running. A folder korvex cannot
// tell about is not abandoned.
bool is_abandoned_scratch(const std::string& folder, std::uint32_t process_id);

// True when users other than this one may add, remove or rename entries of
// `folder` (natively: it is writable by its group or by all and not sticky,
// or another user owns it), so that anything korvex made there could be
// swapped behind its back. Asked of the temporary folder, which under
// Windows is the user's own: there the answer is false.
bool folder_open_to_others(const std::string& folder);

enum class MoveResult { moved, target_exists, failed };

// Moves `from` to `to` in one step, on the same file system. Unless `replace`,
// an existing `to` is left alone and the answer is target_exists. On failure
// `error` holds the system's reason.
MoveResult move_into_place(const std::string& from, const std::string& to, bool replace,
                           std::string& error);

enum class CreateResult { created, name_taken, failed };

// The permissions of a file korvex writes, natively: 0644, or 0755 for the
// copy of a file that may be run, less the umask; never setuid, setgid or
// writable by all. Windows files have no such bits.
enum class FileMode { plain, executable };

// Whether the file at `path` may be run (natively: it has an execute bit),
// which its copy keeps. False under Windows.
bool is_executable_file(const std::string& path);

// Creates the file `path`, which must not exist in any form (a link to
// elsewhere included: it is never followed), writes the bytes of `source`
// into it a block at a time (natively a block of zeros is skipped rather than
// written, so a sparse file's copy stays sparse), flushes it to the disk,
// checks that it holds every byte and closes it. name_taken when something
// stands at `path`; on failure (a full disk shows here at the latest, or a
// source that ends early) `error` holds the reason and no file is left.
CreateResult create_new_file(const std::string& path, const ByteSource& source, FileMode mode,
                             std::string& error);
CreateResult create_new_file(const std::string& path, std::string_view bytes, FileMode mode,
                             std::string& error);

// True when the file at `path`, one a run of process `process_id` created
// before renaming it into place, was left behind: it is a regular file (not a
// link), this user's own, nothing has written it for `quiet_seconds`, and
// that process is no longer running. A file korvex cannot tell about is not
// left behind.
bool is_abandoned_file(const std::string& path, std::uint32_t process_id,
                       std::uint64_t quiet_seconds);

// The work-directory text that makes the library's "folder\file" name a file
// inside `folder`.
std::string work_directory_argument(const std::string& folder);

// The system folder Windows would load a program of `machine` from: under
// Windows (and Wine) the real one, SysWOW64's view for a 32-bit program;
// elsewhere the DLL folder of a Wine installation for that machine, or empty.
std::string default_system_folder(std::uint16_t machine);

// The Windows folder whose WinSxS store side-by-side assemblies come from:
// under Windows (and Wine) the real one; elsewhere empty (--windows names a
// Wine prefix's).
std::string default_windows_folder();

// ---- Folder listing: the one way korvex reads a folder

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
using FolderIdentity = FileIdentity;

struct FolderEntry {
    std::string name;  // the name alone, as the library takes it
    EntryKind kind = EntryKind::unknown;
    std::string problem;  // for unknown: the system's reason
};

struct FolderListing {
    bool read = false;    // false: the folder could not be opened or read
    std::string problem;  // then the system's reason
    FolderIdentity identity;
    // The folder that holds the one opened, as the opened folder itself
    // names it (its ".."), whatever path reached it: a walk compares it with
    // the folder it listed, so a parent swapped for a link is caught.
    // Unknown when the system cannot tell.
    FolderIdentity parent;
    std::vector<FolderEntry> entries;  // every entry but "." and ".."
};

// The most entries korvex looks at in one folder it lists, and in all the
// folders of one walk: each entry costs a look and the memory of its name.
inline constexpr std::size_t max_folder_entries = 1'000'000;

// Reads the entries of the folder at `path`, at most `max_entries` of them,
// and closes it before answering. A link at `path` itself is followed only
// when `follow_link` (the folder a user named); a folder found in a walk is
// opened without following one, so that a folder swapped for a link after it
// was listed is not walked.
FolderListing list_folder(const std::string& path, bool follow_link, std::size_t max_entries);

// The entries of the folder at `path` whose names begin with `prefix`, the
// folder followed if it is a link: at most `max_names` names are read (so a
// folder of millions of entries costs a bounded time), and only those that
// match are examined, at most `max_entries` of them.
FolderListing list_folder_matching(const std::string& path, std::string_view prefix,
                                   std::size_t max_names, std::size_t max_entries);

// ---- This process and the library

// korvex itself, which each platform's program entry calls with the
// arguments as the library takes them (core/*/program_entry.cpp).
int run_korvex(int argc, char** argv);

std::uint32_t own_process_id();

// True when this korvex is a 32-bit program on 64-bit Windows and process
// `process_id` is a 64-bit one: the system gives a 32-bit program no module
// list of a 64-bit process, which the 64-bit korvex lists. False elsewhere,
// and when the process cannot be asked.
bool modules_out_of_reach(std::uint32_t process_id);

// The file name of this program ("korvex.exe", "korvex").
std::string own_program_name();

// The system's own text for an error code (errno natively, GetLastError on
// Windows), and the code of the last failure.
std::string system_error_text(int code);
int last_error_code();

// True when `code` (errno, or a Windows error) means that the reader of a
// pipe went away.
bool is_broken_pipe(int code);

// The library file's name ("korvex32.dll", "libkorvex32.so") and the
// folder of this program, where the library must sit.
extern const char* const library_file_name;
std::string folder_of_this_program();

// Loads the library at `path`; null with the reason in `error` on failure.
void* open_library(const std::string& path, std::string& error);

// An export of a loaded library: by ordinal on Windows (as hosts written
// against the DLL bind it), by name from the native shared library.
void* find_library_export(void* library, int ordinal, const char* name);

// The library file's version record ("4.0.0.0"); empty where there is none.
std::string library_version(const std::string& path);

// ---- The console

bool is_console(std::FILE* stream);

// Writes LF line endings under Windows when stdout is not a console, and
// natively turns a closed pipe into a write error instead of a silent death
// by SIGPIPE.
void prepare_standard_streams();

// Milliseconds from an arbitrary start, never going back.
std::uint64_t monotonic_milliseconds();

}  // namespace korvex::host
