// The host's platform answers on Linux and other POSIX systems.
#include "core/host_os.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "image_readers/pe_image.h"

namespace korvex::host {

const char path_separator = '/';
const char path_list_separator = ':';
const char* const library_file_name = "libkorvex32.so";

std::string to_utf8(const std::string& text) {
    std::string utf8;
    utf8.reserve(text.size());
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = byte(i);
        // Length of the sequence this byte starts and the range its second
        // byte must lie in (which excludes overlong forms and surrogates).
        std::size_t length = 1;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
        else if (lead >= 0x80)
            length = 0;
        std::size_t valid = length == 0 ? 0 : 1;
        while (valid > 0 && valid < length && i + valid < text.size()) {
            const unsigned char next = byte(i + valid);
            if (next < (valid == 1 ? low : 0x80) || next > (valid == 1 ? high : 0xBF)) break;
            ++valid;
        }
        if (valid == length && length > 0) {
            utf8.append(text, i, length);
            i += length;
        } else {
            utf8 += "\xEF\xBF\xBD";
            i += std::max<std::size_t>(valid, 1);
        }
    }
    return utf8;
}

std::filesystem::path native_path(const std::string& text) { return text; }

std::string library_path(const std::filesystem::path& path) { return path.string(); }

std::string unusable_path(const std::string&) { return {}; }

std::vector<std::string> expand_file_argument(const std::string& argument) { return {argument}; }

std::string long_file_name(const std::string&) { return {}; }

std::string unreadable_file_problem(const std::string& path) {
    if (access(path.c_str(), R_OK) != 0)
        return "cannot be opened (" + system_error_text(errno) + ")";
    return {};
}

std::uint64_t random_number() {
    std::uint64_t number = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&number);
    std::size_t got = 0;
    while (got < sizeof number) {
        const ssize_t step = getrandom(bytes + got, sizeof number - got, 0);
        if (step > 0)
            got += static_cast<std::size_t>(step);
        else if (errno != EINTR)
            break;
    }
    // Without getrandom (an old kernel), the clock and the process id still
    // differ from run to run; the names it makes are only tried, never trusted.
    if (got < sizeof number)
        number ^= static_cast<std::uint64_t>(
                      std::chrono::steady_clock::now().time_since_epoch().count()) *
                      0x9E3779B97F4A7C15ull ^
                  static_cast<std::uint64_t>(getpid());
    return number;
}

std::string temporary_folder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

bool create_private_folder(const std::string& stem, std::string& path, std::string& error) {
    // The process id in the name tells a later run whose folder it was.
    std::string pattern = stem + std::to_string(getpid()) + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        error = system_error_text(errno);
        return false;
    }
    path = pattern;
    return true;
}

bool is_abandoned_scratch(const std::string& folder, std::uint32_t process_id) {
    // Only where no other user can swap it for something else between this
    // check and its removal.
    const auto slash = folder.find_last_of('/');
    if (folder_open_to_others(slash == std::string::npos ? "." : folder.substr(0, slash + 1)))
        return false;
    struct stat status {};
    if (lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != geteuid() || process_id == own_process_id() ||
        process_id > static_cast<std::uint32_t>(INT_MAX))
        return false;
    // EPERM: a process of that id runs, another user's.
    return kill(static_cast<pid_t>(process_id), 0) != 0 && errno == ESRCH;
}

bool is_abandoned_file(const std::string& path, std::uint32_t process_id,
                       std::uint64_t quiet_seconds) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != geteuid() || process_id == own_process_id() ||
        process_id > static_cast<std::uint32_t>(INT_MAX))
        return false;
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    if (status.st_mtime > now || static_cast<std::uint64_t>(now - status.st_mtime) < quiet_seconds)
        return false;
    return kill(static_cast<pid_t>(process_id), 0) != 0 && errno == ESRCH;
}

bool folder_open_to_others(const std::string& folder) {
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0) return true;
    if (status.st_uid != geteuid() && status.st_uid != 0) return true;
    return (status.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (status.st_mode & S_ISVTX) == 0;
}

bool is_executable_file(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && (status.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH));
}

MoveResult move_into_place(const std::string& from, const std::string& to, bool replace,
                           std::string& error) {
    // A hard link is made only where no name stands yet: the check and the
    // move are one step, so nothing that appears meanwhile is replaced.
    if (replace ? std::rename(from.c_str(), to.c_str()) == 0
                : link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return MoveResult::moved;
    }
    if (errno == EEXIST) return MoveResult::target_exists;
    error = system_error_text(errno);
    return MoveResult::failed;
}

CreateResult create_new_file(const std::string& path, const ByteSource& source, FileMode mode,
                             std::string& error) {
    // O_EXCL refuses any name that stands, a dangling link included, and
    // O_NOFOLLOW makes sure no link is ever written through. The mode asked
    // for holds no setuid, setgid or write bit for others, whatever the
    // source had; the umask takes away what the user wants taken.
    const mode_t permissions = mode == FileMode::executable ? 0755 : 0644;
    const int file =
        open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions);
    if (file < 0) {
        if (errno == EEXIST) return CreateResult::name_taken;
        error = system_error_text(errno);
        return CreateResult::failed;
    }
    std::vector<char> block(std::size_t{1} << 16);
    std::uint64_t done = 0;
    int failure = 0;
    std::string source_error;
    while (done < source.size && failure == 0 && source_error.empty()) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), source.size - done));
        const std::int64_t got = source.read(done, block.data(), want, source_error);
        if (got <= 0) {
            if (source_error.empty()) source_error = "the file was cut short while it was copied";
            break;
        }
        const std::size_t length = static_cast<std::size_t>(got);
        // Zeros are left to the file system as a hole: the size set at the
        // end reads them back.
        if (std::all_of(block.data(), block.data() + length, [](char c) { return c == 0; })) {
            done += length;
            continue;
        }
        std::size_t written = 0;
        while (written < length && failure == 0) {
            const ssize_t step = pwrite(file, block.data() + written, length - written,
                                        static_cast<off_t>(done + written));
            if (step > 0)
                written += static_cast<std::size_t>(step);
            else if (step < 0 && errno != EINTR)
                failure = errno;
        }
        done += written;
    }
    if (failure == 0 && source_error.empty() && ftruncate(file, static_cast<off_t>(done)) != 0)
        failure = errno;
    // A file system that allocates late (ext4, XFS, NFS) tells of a full
    // disk only when the data goes out: at fsync, or at close.
    if (failure == 0 && source_error.empty() && fsync(file) != 0) failure = errno;
    struct stat status {};
    if (failure == 0 && source_error.empty() && fstat(file, &status) != 0) failure = errno;
    const bool whole = failure != 0 || !source_error.empty() ||
                       static_cast<std::uint64_t>(status.st_size) == source.size;
    if (close(file) != 0 && failure == 0) failure = errno;
    if (failure == 0 && source_error.empty() && whole) return CreateResult::created;
    unlink(path.c_str());
    error = failure != 0 ? system_error_text(failure)
            : !source_error.empty()
                ? source_error
                : "the file holds " + std::to_string(status.st_size) + " of the " +
                      std::to_string(source.size) + " bytes written";
    return CreateResult::failed;
}

std::string work_directory_argument(const std::string& folder) {
    // The library joins folder and file with a backslash, which is part of
    // a file name here ("\snpNNNNN.wrk"); a trailing "/" keeps that file
    // inside the folder.
    return folder.back() == '/' ? folder : folder + "/";
}

std::string default_system_folder(std::uint16_t machine) {
    // Where Debian, Fedora, Arch and WineHQ's own packages put Wine's PE DLLs.
    static const char* const i386_folders[] = {"/usr/lib/i386-linux-gnu/wine/i386-windows",
                                               "/usr/lib/wine/i386-windows",
                                               "/usr/lib32/wine/i386-windows",
                                               "/opt/wine-stable/lib/wine/i386-windows",
                                               "/opt/wine-devel/lib/wine/i386-windows",
                                               "/opt/wine-staging/lib/wine/i386-windows"};
    static const char* const x86_64_folders[] = {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows",
                                                 "/usr/lib64/wine/x86_64-windows",
                                                 "/usr/lib/wine/x86_64-windows",
                                                 "/opt/wine-stable/lib64/wine/x86_64-windows",
                                                 "/opt/wine-devel/lib64/wine/x86_64-windows",
                                                 "/opt/wine-staging/lib64/wine/x86_64-windows"};
    std::error_code error;
    const auto first_existing = [&](const auto& folders) -> std::string {
        for (const char* folder : folders)
            if (std::filesystem::is_directory(folder, error)) return folder;
        return {};
    };
    if (machine == image::machine_i386) return first_existing(i386_folders);
    if (machine == image::machine_x86_64) return first_existing(x86_64_folders);
    return {};
}

std::string default_windows_folder() { return {}; }

std::uint32_t own_process_id() { return static_cast<std::uint32_t>(getpid()); }

std::string own_program_name() { return "korvex"; }

std::string system_error_text(int code) { return std::strerror(code); }

int last_error_code() { return errno; }

bool is_broken_pipe(int code) { return code == EPIPE; }

std::string folder_of_this_program() {
    char path[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string folder(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    const auto slash = folder.rfind('/');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

// /proc lists every process's mappings to a reader allowed to see them,
// whatever either program's word size.
bool modules_out_of_reach(std::uint32_t) { return false; }

void* open_library(const std::string& path, std::string& error) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module != nullptr) return module;
    error = access(path.c_str(), F_OK) != 0
                ? "libkorvex32.so was not found: it must be in the folder of korvex (" + path + ")."
                : path + " could not be loaded (" + dlerror() + ").";
    return nullptr;
}

// ELF has no ordinals: the native library is bound by name.
void* find_library_export(void* library, int, const char* name) { return dlsym(library, name); }

std::string library_version(const std::string&) { return {}; }

bool is_console(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

void prepare_standard_streams() {
    std::signal(SIGPIPE, SIG_IGN);
    // Past a file-size limit (ulimit -f) a write then fails with EFBIG, which
    // korvex reports and cleans up after, instead of the process dying.
    std::signal(SIGXFSZ, SIG_IGN);
}

std::uint64_t monotonic_milliseconds() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

}  // namespace korvex::host
