// Folders that belong to one run of korvex alone, and putting a finished file
// where the user asked for it without replacing what is there.
#pragma once

#include <string>

namespace korvex::host {

// A folder made for this run (mkdtemp natively, a new name created with
// CreateDirectory on Windows, which fails rather than reuse an existing one),
// removed with everything in it on destruction. Nothing korvex writes goes
// through a path another user could have prepared.
class PrivateFolder {
public:
    // Inside `parent`; empty: the system's temporary folder.
    explicit PrivateFolder(const std::string& parent = {});
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    [[nodiscard]] bool created() const { return !path_.empty(); }
    [[nodiscard]] const std::string& path() const { return path_; }
    // Why it could not be created.
    [[nodiscard]] const std::string& error() const { return error_; }

private:
    std::string path_;
    std::string error_;
};

enum class MoveResult { moved, target_exists, failed };

// Moves `from` to `to` in one step, on the same file system. Unless `replace`,
// an existing `to` is left alone and the answer is target_exists. On failure
// `error` holds the system's reason.
MoveResult move_into_place(const std::string& from, const std::string& to, bool replace,
                           std::string& error);

}  // namespace korvex::host
