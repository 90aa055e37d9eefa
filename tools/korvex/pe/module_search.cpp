#include "pe/module_search.h"

#include <filesystem>

#include "core/host_os.h"
#include "core/text.h"

namespace korvex::host {

FileNames regular_file_names(const std::string& folder, std::size_t max_entries) {
    // One more entry than may be looked at tells a folder cut there from one
    // that holds exactly that many.
    FolderListing listing = list_folder(folder, true, max_entries + 1);
    FileNames listed;
    listed.cut = listing.entries.size() > max_entries;
    if (listed.cut) listing.entries.pop_back();
    for (auto& entry : listing.entries)
        if (entry.kind == EntryKind::file) listed.names.push_back(std::move(entry.name));
    return listed;
}

const std::unordered_map<std::string, std::string>& FolderNames::names_in(
    const std::string& folder) {
    auto listing = listings_.find(folder);
    if (listing == listings_.end()) {
        listing = listings_.try_emplace(folder).first;
        FileNames listed = list_(folder);
        listing->second.cut = listed.cut;
        for (auto& name : listed.names)
            listing->second.names.emplace(lower_ascii(name), std::move(name));
    }
    return listing->second.names;
}

const std::string* FolderNames::find(const std::string& folder, const std::string& lower_name) {
    const auto& names = names_in(folder);
    const auto found = names.find(lower_name);
    return found == names.end() ? nullptr : &found->second;
}

bool FolderNames::cut(const std::string& folder) const {
    const auto listing = listings_.find(folder);
    return listing != listings_.end() && listing->second.cut;
}

ModuleFolders::ModuleFolders(std::vector<std::string> folders, std::uint16_t machine)
    : folders_(std::move(folders)), machine_(machine) {}

const ModuleFile* ModuleFolders::find(const std::string& name) {
    const std::string wanted = lower_ascii(name);
    for (const auto& folder : folders_) {
        const std::string* actual = names_.find(folder, wanted);
        if (actual == nullptr) continue;
        const std::string path = joined_path(folder, *actual);
        auto& file = files_[path];
        if (!file) file = read_module_file(path);
        if (file->problem.empty() && file->machine == machine_) return file.get();
    }
    return nullptr;
}

}  // namespace korvex::host
