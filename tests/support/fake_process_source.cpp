#include "fake_process_source.h"

#include <algorithm>
#include <cstring>

namespace korvex::test {

namespace {

template <std::size_t N>
void put_text(char (&field)[N], const std::string& text) {
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

}  // namespace

FakeProcess& FakeProcess::add_module(std::string name, std::string path) {
    modules.push_back(FakeModule{std::move(name), std::move(path)});
    return *this;
}

FakeFile& FakeFile::with_version(std::uint32_t most_significant, std::uint32_t least_significant) {
    version_lookup = os::VersionLookup::found;
    version = {most_significant, least_significant};
    return *this;
}

FakeProcess& FakeProcessSource::add_process(std::uint32_t process_id, std::string exe_file) {
    FakeProcess& process = processes.emplace_back();
    process.entry.th32ProcessID = process_id;
    process.entry.cntThreads = 1;
    process.entry.pcPriClassBase = 8;
    put_text(process.entry.szExeFile, exe_file);
    return process;
}

FakeFile& FakeProcessSource::add_file(const std::string& upper_path) { return files[upper_path]; }

os::ListHandle FakeProcessSource::open_processes() noexcept {
    if (process_list_fails) return 0;
    ++lists_opened;
    open_[next_handle_] = OpenList{-1, 0};
    return next_handle_++;
}

bool FakeProcessSource::process_step(os::ListHandle list, ProcessRecord& entry) {
    process_entry_sizes.push_back(entry.dwSize);
    auto open = open_.find(list);
    if (open == open_.end() || open->second.process_index != -1) return false;
    if (open->second.next >= processes.size()) return false;
    const std::uint32_t size = entry.dwSize;
    last_process_ = open->second.next;
    entry = processes[open->second.next++].entry;
    entry.dwSize = size;
    return true;
}

bool FakeProcessSource::first_process(os::ListHandle list, ProcessRecord& entry) noexcept {
    if (auto open = open_.find(list); open != open_.end()) open->second.next = 0;
    return process_step(list, entry);
}

bool FakeProcessSource::next_process(os::ListHandle list, ProcessRecord& entry) noexcept {
    return process_step(list, entry);
}

os::ListHandle FakeProcessSource::open_modules(std::uint32_t process_id) noexcept {
    module_lists_asked.push_back(process_id);
    // The process the walk answered last, when it has that id (fuzz input
    // gives several processes one id); otherwise the first with it, as a
    // real system has only one.
    std::size_t index = last_process_;
    if (index >= processes.size() || processes[index].entry.th32ProcessID != process_id) {
        index = 0;
        while (index < processes.size() && processes[index].entry.th32ProcessID != process_id)
            ++index;
    }
    if (index >= processes.size() || processes[index].module_list_fails) return 0;
    ++lists_opened;
    open_[next_handle_] = OpenList{static_cast<int>(index), 0};
    return next_handle_++;
}

bool FakeProcessSource::module_step(os::ListHandle list, os::ModuleEntry& entry) {
    auto open = open_.find(list);
    if (open == open_.end() || open->second.process_index < 0) return false;
    const auto& modules = processes[static_cast<std::size_t>(open->second.process_index)].modules;
    if (open->second.next >= modules.size()) return false;
    const FakeModule& module = modules[open->second.next++];
    entry = os::ModuleEntry{};
    entry.global_usage = module.global_usage;
    entry.process_usage = module.process_usage;
    put_text(entry.name, module.name);
    put_text(entry.path, module.path);
    return true;
}

bool FakeProcessSource::first_module(os::ListHandle list, os::ModuleEntry& entry) noexcept {
    if (auto open = open_.find(list); open != open_.end()) open->second.next = 0;
    return module_step(list, entry);
}

bool FakeProcessSource::next_module(os::ListHandle list, os::ModuleEntry& entry) noexcept {
    return module_step(list, entry);
}

void FakeProcessSource::close_list(os::ListHandle list) noexcept {
    if (open_.erase(list) == 1)
        ++lists_closed;
    else
        ++unknown_lists_closed;
}

bool FakeProcessSource::find_file(const char* path, os::FoundFile& found) noexcept {
    ++searches[path];
    const auto file = files.find(path);
    if (file == files.end()) return false;
    found = os::FoundFile{};
    found.size_low = static_cast<std::uint32_t>(file->second.size);
    found.size_high = static_cast<std::uint32_t>(file->second.size >> 32);
    put_text(found.alternate_name, file->second.alternate_name);
    // The file time is a ticket for the local time the test chose; one per
    // file, so that many captures of the same files hold no more tickets.
    const auto known = std::find(timed_files_.begin(), timed_files_.end(), &file->second);
    found.last_write = static_cast<std::uint64_t>(known - timed_files_.begin());
    if (known == timed_files_.end()) timed_files_.push_back(&file->second);
    return true;
}

std::uint32_t FakeProcessSource::short_path(const char* path, char* buffer,
                                            std::uint32_t size) noexcept {
    const auto file = files.find(path);
    if (file == files.end() || file->second.short_path_fails) return 0;
    const std::string& short_form =
        file->second.short_path.empty() ? file->first : file->second.short_path;
    if (short_form.size() >= size) return static_cast<std::uint32_t>(short_form.size() + 1);
    std::memcpy(buffer, short_form.c_str(), short_form.size() + 1);
    return static_cast<std::uint32_t>(short_form.size());
}

bool FakeProcessSource::local_time(std::uint64_t file_time, os::CalendarTime& local) noexcept {
    if (file_time >= timed_files_.size()) return false;
    const FakeFile& file = *timed_files_[static_cast<std::size_t>(file_time)];
    if (file.time_conversion_fails) return false;
    local = file.written;
    return true;
}

const FakeFile* FakeProcessSource::file_with_short_path(const std::string& path) const {
    for (const auto& [long_path, file] : files)
        if ((file.short_path.empty() ? long_path : file.short_path) == path) return &file;
    return nullptr;
}

os::VersionLookup FakeProcessSource::file_version(const char* path,
                                                  os::FileVersion& version) noexcept {
    ++version_reads[path];
    const FakeFile* file = file_with_short_path(path);
    if (file == nullptr) return os::VersionLookup::no_version_data;
    if (file->version_lookup == os::VersionLookup::found) version = file->version;
    return file->version_lookup;
}

}  // namespace korvex::test
