// Modules looked for by name in folders as the loader finds them: every
// folder read through the one bounded lister (list_folder), each listed once
// and each file read once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/host_os.h"
#include "pe/module_file.h"

namespace korvex::host {

// The ordinary files of a folder by name, in the order listed; `cut` when the
// folder held more entries than were looked at.
struct FileNames {
    std::vector<std::string> names;
    bool cut = false;
};

// Looks at the first `max_entries` entries of `folder`, of any kind: a folder
// past them is searched in part, and said to be.
FileNames regular_file_names(const std::string& folder,
                             std::size_t max_entries = max_folder_entries);

// Files looked up by name in any case, as Windows finds them, each folder
// listed once. Of two names that differ only in case (possible outside
// Windows) the first listed is taken.
class FolderNames {
public:
    using List = std::function<FileNames(const std::string& folder)>;
    explicit FolderNames(List list) : list_(std::move(list)) {}
    // The name as listed of the file named `lower_name` in `folder`; null
    // when there is none.
    const std::string* find(const std::string& folder, const std::string& lower_name);
    // Whether `folder`, once listed, held more entries than were looked at.
    [[nodiscard]] bool cut(const std::string& folder) const;
    // Every file of `folder` as listed, by lower-case name.
    const std::unordered_map<std::string, std::string>& names_in(const std::string& folder);

private:
    struct Listing {
        std::unordered_map<std::string, std::string> names;  // by lower-case name
        bool cut = false;
    };
    List list_;
    std::unordered_map<std::string, Listing> listings_;
};

// Modules looked for by name in folders, in order, as the loader would find
// them for a program of `machine` (a file of another machine is passed over);
// each folder is listed once and each file read once.
class ModuleFolders {
public:
    ModuleFolders(std::vector<std::string> folders, std::uint16_t machine);
    // Null when no folder holds a usable module of that name (any case).
    const ModuleFile* find(const std::string& name);

private:
    std::vector<std::string> folders_;
    std::uint16_t machine_;
    FolderNames names_{[](const std::string& folder) { return regular_file_names(folder); }};
    std::unordered_map<std::string, std::unique_ptr<ModuleFile>> files_;
};

}  // namespace korvex::host
