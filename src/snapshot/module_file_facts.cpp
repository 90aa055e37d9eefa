#include "snapshot/module_file_facts.h"

#include <cstdio>

#include "os/process_walk.h"
#include "snapshot/fixed_text.h"
#include "snapshot/state.h"

namespace korvex::snapshot {

namespace {

// snprintf cuts whatever does not fit; the values the platform gives fit.
void write_date(const os::CalendarTime& local, char (&date)[11]) {
    const unsigned year = local.year > latest_written_year ? latest_written_year : local.year;
    std::snprintf(date, sizeof date, "%02d/%02d/%04d", int{local.month}, int{local.day},
                  static_cast<int>(year));
}

// The hour stays on the 24-hour clock; "a" marks hours up to 12, "p" the rest.
void write_time(const os::CalendarTime& local, char (&time)[7]) {
    std::snprintf(time, sizeof time, "%02d:%02d%c", int{local.hour}, int{local.minute},
                  local.hour <= 12 ? 'a' : 'p');
}

}  // namespace

void gather_file_facts(const char* upper_path, FileFacts& facts) noexcept {
    os::ProcessSource& system = os::process_source();
    facts = FileFacts{};

    os::FoundFile found{};
    const bool file_found = system.find_file(upper_path, found);

    char short_form[261];
    const std::uint32_t short_length = system.short_path(upper_path, short_form, sizeof short_form);
    short_form[sizeof short_form - 1] = '\0';
    const bool short_found = short_length > 0 && short_length < sizeof short_form;

    if (file_found) copy_text(facts.alternate_name, found.alternate_name);
    if (!file_found || !short_found) {
        copy_text(facts.path, upper_path, sizeof facts.path);
        return;
    }
    copy_text(facts.path, short_form);
    facts.size = found.size_high != 0 ? file_size_too_large : found.size_low;

    os::CalendarTime local{};
    const bool time_known = system.local_time(found.last_write, local);
    if (version_numbers_wanted()) GetFileVersionText(facts.path, facts.version);
    if (time_known) {
        write_date(local, facts.date);
        write_time(local, facts.time);
    }
}

void apply_file_facts(const FileFacts& facts, ModuleRecord& record) noexcept {
    copy_text(record.szPath, facts.path);
    if (record.szShortName[0] == '\0') copy_text(record.szShortName, facts.alternate_name);
    record.dwFileSize = facts.size;
    copy_text(record.szVersion, facts.version);
    copy_text(record.szDate, facts.date);
    copy_text(record.szTime, facts.time);
}

void ReadModuleFileFacts(ModuleRecord& record) noexcept {
    FileFacts facts;
    record.szPath[sizeof record.szPath - 1] = '\0';
    gather_file_facts(record.szPath, facts);
    apply_file_facts(facts, record);
}

int GetFileVersionText(const char* path, char (&text)[20]) noexcept {
    os::FileVersion version{};
    switch (os::process_source().file_version(path, version)) {
        case os::VersionLookup::found:
            break;
        case os::VersionLookup::no_fixed_block:
            text[0] = '\0';
            return 1;
        default:
            text[0] = '\0';
            return -1;
    }
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", version.most_significant >> 16,
                  version.most_significant & 0xFFFFu, version.least_significant >> 16,
                  version.least_significant & 0xFFFFu);
    return 0;
}

}  // namespace korvex::snapshot
