#include "record_checks.h"

#include <cctype>
#include <cstring>
#include <set>
#include <string>

namespace korvex::host_test {

namespace {

template <std::size_t N>
bool terminated(const char (&field)[N], std::size_t most = N - 1) {
    return strnlen(field, N) <= most;
}

template <std::size_t N>
std::string text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

// Byte order: unsigned bytes, the first difference decides, a prefix first.
int byte_order(const std::string& a, const std::string& b) {
    const std::size_t common = a.size() < b.size() ? a.size() : b.size();
    const int at = std::memcmp(a.data(), b.data(), common);
    if (at != 0) return at;
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// The file name after the last backslash or colon, and the directory before
// it (a colon stays with the directory, a backslash belongs to neither).
void split(const std::string& path, std::string& directory, std::string& name) {
    const std::size_t at = path.find_last_of("\\:");
    if (at == std::string::npos) {
        directory.clear();
        name = path;
        return;
    }
    name = path.substr(at + 1);
    directory = path.substr(0, path[at] == ':' ? at + 1 : at);
}

bool digits(const std::string& s, std::size_t at, std::size_t count) {
    for (std::size_t i = at; i < at + count; ++i)
        if (i >= s.size() || !std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

bool date_well_formed(const std::string& date) {
    return date.empty() || (date.size() == 10 && digits(date, 0, 2) && date[2] == '/' &&
                            digits(date, 3, 2) && date[5] == '/' && digits(date, 6, 4));
}

bool time_well_formed(const std::string& time) {
    if (time.empty()) return true;
    if (time.size() != 6 || !digits(time, 0, 2) || time[2] != ':' || !digits(time, 3, 2))
        return false;
    const int hour = std::stoi(time.substr(0, 2));
    return hour <= 23 && time[5] == (hour <= 12 ? 'a' : 'p');
}

}  // namespace

std::string process_problems(const std::vector<ProcessRecord>& processes) {
    std::string previous_directory, previous_name;
    for (std::size_t i = 0; i < processes.size(); ++i) {
        const ProcessRecord& record = processes[i];
        const std::string at = "process " + std::to_string(i) + ": ";
        if (record.dwSize != 296) return at + "dwSize is not 296";
        if (!terminated(record.szExeFile)) return at + "szExeFile has no terminator";
        std::string directory, name;
        split(text(record.szExeFile), directory, name);
        if (i > 0) {
            const int by_name = byte_order(previous_name, name);
            if (by_name > 0 || (by_name == 0 && byte_order(previous_directory, directory) > 0))
                return at + "out of order after " + previous_name;
        }
        previous_directory = directory;
        previous_name = name;
    }
    return {};
}

std::string module_problems(const std::vector<ModuleRecord>& modules,
                            const std::vector<ProcessRecord>& processes) {
    std::set<std::uint32_t> ids;
    for (const ProcessRecord& process : processes) ids.insert(process.th32ProcessID);
    for (std::size_t i = 0; i < modules.size(); ++i) {
        const ModuleRecord& record = modules[i];
        const std::string at = "module " + std::to_string(i) + ": ";
        if (!terminated(record.szShortName, 13)) return at + "szShortName longer than 13";
        if (!terminated(record.szVersion)) return at + "szVersion has no terminator";
        if (!terminated(record.szPath)) return at + "szPath has no terminator";
        if (!terminated(record.szDate) || !date_well_formed(text(record.szDate)))
            return at + "szDate is not MM/DD/YYYY";
        if (!terminated(record.szTime) || !time_well_formed(text(record.szTime)))
            return at + "szTime is not HH:MMa or HH:MMp";
        if (ids.count(record.dwProcessID) == 0) return at + "belongs to no listed process";
        if (i > 0) {
            const ModuleRecord& before = modules[i - 1];
            const int by_name = byte_order(text(before.szShortName), text(record.szShortName));
            if (by_name > 0 ||
                (by_name == 0 && byte_order(text(before.szPath), text(record.szPath)) > 0))
                return at + "out of order after " + text(before.szShortName);
        }
    }
    return {};
}

}  // namespace korvex::host_test
