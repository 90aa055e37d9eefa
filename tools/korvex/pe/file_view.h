// A whole file for the image readers, released on destruction. The library
// reads its one held file through its own view; the host needs one of its
// own for what the exports do not answer, and opens it the same way
// (os/files.h): private memory filled from the file a block at a time as
// reads reach it (under Windows through a handle whose share mode keeps
// others from writing the file), so that a file rewritten or cut short while
// korvex reads it reads as zeros past its new end instead of stopping korvex.
#pragma once

#include <string>

#include "core/host_os.h"
#include "image/byte_view.h"
#include "os/files.h"

namespace korvex::host {

class FileView {
public:
    FileView() = default;
    ~FileView() { release(); }
    FileView(const FileView&) = delete;
    FileView& operator=(const FileView&) = delete;

    // False (and an empty view) when the file cannot be opened, is empty or
    // is not a regular file (a pipe or device is never waited on). The memory
    // behind a view is one area for the whole process, so only one view may
    // be open at a time: open answers false while another is.
    bool open(const std::string& path) {
        release();
        if (open_views != 0 || os::map_file_readonly(path.c_str(), file_) != os::MapResult::mapped)
            return false;
        ++open_views;
        return true;
    }

    [[nodiscard]] image::ByteView bytes() const { return image::ByteView(file_); }
    // The file the view was filled from, as opened: what a later use of its
    // path must still reach.
    [[nodiscard]] FileIdentity identity() const { return identity_of_mapped_file(file_.file); }

private:
    void release() {
        if (file_.view == nullptr) return;
        os::release_mapped_file(file_);
        --open_views;
    }

    static inline constinit int open_views = 0;
    os::MappedFile file_{};
};

}  // namespace korvex::host
