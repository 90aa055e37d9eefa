#include "private_folder.h"

#include <filesystem>
#include <system_error>

#include "diagnosis.h"
#include "text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#endif

namespace korvex::host {

namespace {

std::string temporary_folder() {
#ifdef _WIN32
    char folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof folder, folder);
    return length > 0 && length < sizeof folder ? std::string(folder, length) : std::string(".\\");
#else
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' ? folder : "/tmp";
#endif
}

std::string with_separator(std::string folder) {
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += path_separator;
    return folder;
}

}  // namespace

PrivateFolder::PrivateFolder(const std::string& parent) {
    const std::string stem =
        with_separator(parent.empty() ? temporary_folder() : parent) + "korvex-";
#ifdef _WIN32
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate = stem + std::to_string(GetCurrentProcessId()) + "-" +
                                      std::to_string(GetTickCount()) + "-" +
                                      std::to_string(attempt);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    error_ = system_error_text(static_cast<int>(GetLastError()));
#else
    std::string pattern = stem + "XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr)
        path_ = pattern;
    else
        error_ = system_error_text(errno);
#endif
}

PrivateFolder::~PrivateFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(native_path(path_), ignored);
}

MoveResult move_into_place(const std::string& from, const std::string& to, bool replace,
                           std::string& error) {
#ifdef _WIN32
    if (MoveFileExA(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0))
        return MoveResult::moved;
    const DWORD code = GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return MoveResult::target_exists;
    error = system_error_text(static_cast<int>(code));
#else
    // A hard link is made only where no name stands yet: the check and the
    // move are one step, so nothing that appears meanwhile is replaced.
    if (replace ? std::rename(from.c_str(), to.c_str()) == 0
                : link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return MoveResult::moved;
    }
    if (errno == EEXIST) return MoveResult::target_exists;
    error = system_error_text(errno);
#endif
    return MoveResult::failed;
}

}  // namespace korvex::host
