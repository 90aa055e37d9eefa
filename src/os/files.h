// Removal of a file by path, the one file operation the snapshot side needs
// beyond the C runtime's streams.
#pragma once

namespace korvex::os {

// Deletes the file at `path`. The outcome is not reported: callers delete
// work files that may already be gone, and nothing they do depends on it.
void delete_file(const char* path) noexcept;

}  // namespace korvex::os
