// The host's platform answers on Windows (and Wine), for the 32-bit and the
// 64-bit korvex.exe: the paths it holds are ANSI text, as the library takes
// them.
#include "core/host_os.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

// After windows.h, whose types it takes.
#include <bcrypt.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <vector>

#include "core/text.h"
#include "image_readers/pe_image.h"
#include "os/wow64_paths.h"

namespace korvex::host {

const char path_separator = '\\';
const char path_list_separator = ';';
const char* const library_file_name = "korvex32.dll";

namespace {

// The ANSI functions the library uses take at most MAX_PATH - 1 characters.
constexpr std::size_t longest_path = MAX_PATH - 1;

std::string narrow(const std::wstring& wide, UINT code_page, bool* lossy) {
    BOOL used_default = FALSE;
    const DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL* check = code_page == CP_UTF8 ? nullptr : &used_default;
    const int length = WideCharToMultiByte(
        code_page, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, check);
    std::string text(static_cast<std::size_t>(std::max(length, 0)), '\0');
    WideCharToMultiByte(code_page, flags, wide.data(), static_cast<int>(wide.size()), text.data(),
                        length, nullptr, nullptr);
    if (lossy != nullptr) *lossy = used_default != FALSE;
    return text;
}

std::wstring widen(const std::string& text) {
    const int length =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

bool is_pattern(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

std::string long_name_as_seen(const std::string& path) {
    char long_path[MAX_PATH] = {};
    const DWORD length = GetLongPathNameA(path.c_str(), long_path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    const std::string full(long_path, length);
    const auto slash = full.find_last_of("\\/");
    return slash == std::string::npos ? full : full.substr(slash + 1);
}

#ifdef _WIN64
// `path` as a 32-bit process would find its file (the library's capture
// reads a 32-bit process's modules by the same rule); empty when that is
// `path` itself.
std::string in_wow64_folder(const std::string& path) {
    char moved[MAX_PATH] = {};
    const os::SystemFolders folders = os::system_folders();
    return os::path_seen_by_32bit_process(path.c_str(), folders, moved, sizeof moved).moved
               ? std::string(moved)
               : std::string();
}
#endif

}  // namespace

std::string to_utf8(const std::string& text) { return narrow(widen(text), CP_UTF8, nullptr); }

std::filesystem::path native_path(const std::string& text) { return widen(text); }

std::string ansi_argument(const wchar_t* argument) {
    bool lossy = false;
    std::string spelled = narrow(argument, CP_ACP, &lossy);
    if (!lossy) return spelled;
    wchar_t alias[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(argument, alias, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return spelled;
    std::string short_spelling = narrow(std::wstring(alias, length), CP_ACP, &lossy);
    return lossy ? spelled : short_spelling;
}

std::string library_path(const std::filesystem::path& path) {
    return ansi_argument(path.wstring().c_str());
}

std::string unusable_path(const std::string& path) {
    if (path.size() > longest_path)
        return "has a path that is too long (" + std::to_string(path.size()) +
               " characters; Windows takes at most " + std::to_string(longest_path) + " here)";
    if (is_pattern(path))
        return "matches no file, or its name has characters that the ANSI code page (" +
               std::to_string(GetACP()) + ") cannot spell and no 8.3 short name";
    return {};
}

std::vector<std::string> expand_file_argument(const std::string& argument) {
    const auto slash = argument.find_last_of("\\/:");
    const std::string folder = slash == std::string::npos ? "" : argument.substr(0, slash + 1);
    if (!is_pattern(argument.substr(folder.size())) || is_pattern(folder)) return {argument};
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(argument.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {argument};
    std::vector<std::string> files;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        // A name the code page cannot spell is reached by its 8.3 alias.
        const bool spelled =
            name.find('?') == std::string::npos || found.cAlternateFileName[0] == 0;
        files.push_back(folder + (spelled ? name : std::string(found.cAlternateFileName)));
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end(), windows_name_less);
    return files.empty() ? std::vector<std::string>{argument} : files;
}

// A record spells a path as the process that took the snapshot saw it, and a
// 32-bit process on 64-bit Windows sees SysWOW64 under the name System32. So
// both builds look in the native System32 first and in SysWOW64 second: the
// 32-bit and the 64-bit korvex name the files of one work file alike, also
// those that only one of the two folders holds.
std::string long_file_name(const std::string& path) {
#ifdef _WIN64
    if (std::string name = long_name_as_seen(path); !name.empty()) return name;
    const std::string wow64_path = in_wow64_folder(path);
    return wow64_path.empty() ? std::string() : long_name_as_seen(wow64_path);
#else
    BOOL wow64 = FALSE;
    void* redirection = nullptr;
    if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64 &&
        Wow64DisableWow64FsRedirection(&redirection)) {
        std::string name = long_name_as_seen(path);
        Wow64RevertWow64FsRedirection(redirection);
        if (!name.empty()) return name;
    }
    return long_name_as_seen(path);
#endif
}

std::string unreadable_file_problem(const std::string& path) {
    // NUL, CON and COM1 look like files to the C library.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "cannot be opened (" + system_error_text(static_cast<int>(GetLastError())) + ")";
    const bool device = GetFileType(file) != FILE_TYPE_DISK;
    CloseHandle(file);
    return device ? "is a device, not a file" : std::string();
}

std::uint64_t random_number() {
    std::uint64_t number = 0;
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&number), sizeof number,
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        // The names it makes are only tried, never trusted: the clock and
        // the process id still differ from run to run.
        number = (GetTickCount64() * 0x9E3779B97F4A7C15ull) ^ GetCurrentProcessId();
    return number;
}

std::string temporary_folder() {
    char folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof folder, folder);
    return length > 0 && length < sizeof folder ? std::string(folder, length) : std::string(".\\");
}

bool create_private_folder(const std::string& stem, std::string& path, std::string& error) {
    // CreateDirectory fails rather than reuse a folder that exists.
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate = stem + std::to_string(GetCurrentProcessId()) + "-" +
                                      std::to_string(GetTickCount()) + "-" +
                                      std::to_string(attempt);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path = candidate;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    error = system_error_text(static_cast<int>(GetLastError()));
    return false;
}

namespace {

// Whether process `process_id` has ended: no process has that id any more
// (OpenProcess then fails with ERROR_INVALID_PARAMETER), or it has exited.
bool process_has_ended(std::uint32_t process_id) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, process_id);
    if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

}  // namespace

bool is_abandoned_scratch(const std::string& folder, std::uint32_t process_id) {
    // The folder lies in this user's own temporary folder, which no other
    // user may write, so whose it is needs no asking.
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || process_id == GetCurrentProcessId())
        return false;
    return process_has_ended(process_id);
}

bool is_abandoned_file(const std::string& path, std::uint32_t process_id,
                       std::uint64_t quiet_seconds) {
    // A file of the folder korvex writes into, which Windows gives to the
    // user who made it: this user's own when korvex may replace it.
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        process_id == GetCurrentProcessId())
        return false;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& time) {
        return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    };
    // FILETIME counts 100-nanosecond steps.
    if (ticks(data.ftLastWriteTime) > ticks(now) ||
        (ticks(now) - ticks(data.ftLastWriteTime)) / 10'000'000 < quiet_seconds)
        return false;
    return process_has_ended(process_id);
}

bool folder_open_to_others(const std::string&) { return false; }

bool is_executable_file(const std::string&) { return false; }

MoveResult move_into_place(const std::string& from, const std::string& to, bool replace,
                           std::string& error) {
    // One rename within the folder: MOVEFILE_REPLACE_EXISTING swaps the name
    // over what stands there (a hard link keeps its contents), and without
    // it nothing is replaced. No MOVEFILE_COPY_ALLOWED: a copy would write
    // through the target.
    if (MoveFileExW(widen(from).c_str(), widen(to).c_str(),
                    replace ? MOVEFILE_REPLACE_EXISTING : 0))
        return MoveResult::moved;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return MoveResult::target_exists;
    error = system_error_text(static_cast<int>(code));
    return MoveResult::failed;
}

CreateResult create_new_file(const std::string& path, const ByteSource& source, FileMode,
                             std::string& error) {
    // CREATE_NEW fails on any name that stands, a link included, so nothing
    // is written through a link korvex did not make.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
            return CreateResult::name_taken;
        error = system_error_text(static_cast<int>(code));
        return CreateResult::failed;
    }
    std::vector<char> block(std::size_t{1} << 20);
    std::uint64_t done = 0;
    DWORD failure = 0;
    std::string source_error;
    while (done < source.size && failure == 0 && source_error.empty()) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), source.size - done));
        const std::int64_t got = source.read(done, block.data(), want, source_error);
        if (got <= 0) {
            if (source_error.empty()) source_error = "the file was cut short while it was copied";
            break;
        }
        std::size_t written = 0;
        while (written < static_cast<std::size_t>(got) && failure == 0) {
            DWORD step = 0;
            if (!WriteFile(file, block.data() + written,
                           static_cast<DWORD>(static_cast<std::size_t>(got) - written), &step,
                           nullptr) ||
                step == 0)
                failure = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
            written += step;
        }
        done += written;
    }
    const bool fed = failure == 0 && source_error.empty();
    // A full disk (or a network share) may refuse the data only when it is
    // flushed.
    if (fed && !FlushFileBuffers(file)) failure = GetLastError();
    LARGE_INTEGER size{};
    if (fed && failure == 0 && !GetFileSizeEx(file, &size)) failure = GetLastError();
    const bool whole =
        !fed || failure != 0 || static_cast<std::uint64_t>(size.QuadPart) == source.size;
    if (!CloseHandle(file) && failure == 0) failure = GetLastError();
    if (fed && failure == 0 && whole) return CreateResult::created;
    DeleteFileA(path.c_str());
    error = failure != 0 ? system_error_text(static_cast<int>(failure))
            : !source_error.empty()
                ? source_error
                : "the file holds " + std::to_string(size.QuadPart) + " of the " +
                      std::to_string(source.size) + " bytes written";
    return CreateResult::failed;
}

std::string work_directory_argument(const std::string& folder) { return folder; }

std::string default_system_folder(std::uint16_t machine) {
    char folder[MAX_PATH] = {};
    // The 32-bit korvex.exe, under WoW64 (and Wine), is shown SysWOW64 in
    // place of System32 by the file system, which is right for a 32-bit
    // program; it reaches a 64-bit program's DLLs through Sysnative. The
    // 64-bit korvex.exe sees System32 as it is, and a 32-bit program's DLLs
    // in SysWOW64.
    BOOL wow64 = FALSE;
    const bool wide_machine = machine != image::machine_i386;
    if (sizeof(void*) == 8 && !wide_machine) {
        const UINT length = GetSystemWow64DirectoryA(folder, MAX_PATH);
        if (length != 0 && length < MAX_PATH) return std::string(folder, length);
    }
    if (wide_machine && IsWow64Process(GetCurrentProcess(), &wow64) && wow64) {
        const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return {};
        return std::string(folder, length) + "\\Sysnative";
    }
    const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::string() : std::string(folder, length);
}

std::string default_windows_folder() {
    char folder[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::string() : std::string(folder, length);
}

std::uint32_t own_process_id() { return GetCurrentProcessId(); }

bool modules_out_of_reach(std::uint32_t process_id) {
    // Under WoW64 IsWow64Process answers TRUE for a 32-bit process; a
    // 64-bit process (on a 64-bit system) answers FALSE.
    BOOL self_wow64 = FALSE;
    if (sizeof(void*) == 8 || !IsWow64Process(GetCurrentProcess(), &self_wow64) || !self_wow64)
        return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    if (process == nullptr) return false;
    BOOL wow64 = TRUE;
    const bool wide = IsWow64Process(process, &wow64) && !wow64;
    CloseHandle(process);
    return wide;
}

std::string own_program_name() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string full(path, length);
    const auto slash = full.find_last_of("\\/");
    return slash == std::string::npos ? full : full.substr(slash + 1);
}

std::string system_error_text(int code) {
    char text[512] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "system error " + std::to_string(code) : message;
}

int last_error_code() { return static_cast<int>(GetLastError()); }

bool is_broken_pipe(int code) {
    // msvcrt maps a write into a closed pipe to EINVAL (under Wine) or EPIPE;
    // the system's own codes say so unambiguously: Windows answers
    // ERROR_NO_DATA, and Wine, for a Unix pipe whose reader has gone,
    // ERROR_PIPE_NOT_CONNECTED.
    const DWORD system = GetLastError();
    return code == EPIPE || system == ERROR_NO_DATA || system == ERROR_BROKEN_PIPE ||
           system == ERROR_PIPE_NOT_CONNECTED;
}

std::string folder_of_this_program() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    const auto slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

void* open_library(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module != nullptr) return module;
    const DWORD code = GetLastError();
    error =
        code == ERROR_MOD_NOT_FOUND && GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES
            ? "korvex32.dll was not found: it must be in the folder of korvex.exe (" + path + ")."
            : path + " could not be loaded (" + system_error_text(static_cast<int>(code)) + ").";
    return nullptr;
}

void* find_library_export(void* library, int ordinal, const char*) {
    return reinterpret_cast<void*>(
        GetProcAddress(static_cast<HMODULE>(library), MAKEINTRESOURCEA(ordinal)));
}

std::string library_version(const std::string& path) {
    DWORD ignored = 0;
    std::vector<char> record(GetFileVersionInfoSizeA(path.c_str(), &ignored));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (record.empty() ||
        !GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(record.size()), record.data()) ||
        !VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &size) ||
        size < sizeof *fixed)
        return {};
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionLS));
}

bool is_console(std::FILE* stream) {
    // _isatty is also true for NUL and other character devices.
    DWORD mode = 0;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}

void prepare_standard_streams() {
    if (!is_console(stdout)) _setmode(_fileno(stdout), _O_BINARY);
}

std::uint64_t monotonic_milliseconds() { return GetTickCount64(); }

}  // namespace korvex::host
