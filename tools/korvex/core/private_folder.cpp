#include "core/private_folder.h"

#include <filesystem>
#include <system_error>

#include "core/host_os.h"

namespace korvex::host {

PrivateFolder::PrivateFolder(const std::string& parent) {
    std::string stem = parent.empty() ? temporary_folder() : parent;
    if (!stem.empty() && stem.back() != '/' && stem.back() != '\\') stem += path_separator;
    create_private_folder(stem + "korvex-", path_, error_);
}

PrivateFolder::~PrivateFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(native_path(path_), ignored);
}

}  // namespace korvex::host
