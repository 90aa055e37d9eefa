// A folder that belongs to one run of korvex alone: nothing korvex writes
// goes through a path another user could have prepared.
#pragma once

#include <string>

namespace korvex::host {

// Made new for this run (mkdtemp natively, a new name created with
// CreateDirectory on Windows, which fails rather than reuse an existing one),
// removed with everything in it on destruction.
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

}  // namespace korvex::host
