#include "snapshot/capture.h"

#include <cstdio>
#include <cstring>

#include "fixed_text.h"
#include "korvex32.h"
#include "os/process_source.h"
#include "snapshot/record_order.h"
#include "snapshot/tables.h"

namespace korvex::snapshot {

// ---- File facts

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

namespace {

// The short form of `path` into `out`; false when it cannot be had or does
// not fit.
bool short_form_of(os::ProcessSource& system, const char* path, char (&out)[261]) {
    const std::uint32_t length = system.short_path(path, out, sizeof out);
    out[sizeof out - 1] = '\0';
    return length > 0 && length < sizeof out;
}

// The short form of the path a process named, when its file is read at
// `read_path`: the folder it named, shortened, before the rest of the
// shortened path read.
bool short_form_as_named(os::ProcessSource& system, const char* upper_path, const char* read_path,
                         const os::Wow64Path& moved, char (&out)[261]) {
    char read_short[261];
    char folder[261];
    char folder_short[261];
    if (!short_form_of(system, read_path, read_short) || moved.named_folder >= sizeof folder)
        return false;
    std::memcpy(folder, upper_path, moved.named_folder);
    folder[moved.named_folder] = '\0';
    return short_form_of(system, folder, folder_short) &&
           os::respell_short_path(read_short, moved, folder_short, out, sizeof out);
}

}  // namespace

void gather_file_facts(const char* upper_path, FileFacts& facts, bool read_version,
                       const os::SystemFolders* seen_from) noexcept {
    os::ProcessSource& system = os::process_source();
    facts = FileFacts{};

    char moved_path[261];
    const os::Wow64Path moved =
        seen_from == nullptr
            ? os::Wow64Path{}
            : os::path_seen_by_32bit_process(upper_path, *seen_from, moved_path, sizeof moved_path);
    const char* read_path = moved.moved ? moved_path : upper_path;

    os::FoundFile found{};
    const bool file_found = system.find_file(read_path, found);

    char short_form[261];
    const bool short_found =
        moved.moved ? short_form_as_named(system, upper_path, read_path, moved, short_form)
                    : short_form_of(system, upper_path, short_form);

    if (file_found) copy_text(facts.alternate_name, found.alternate_name);
    if (!file_found || !short_found) {
        copy_text(facts.path, upper_path, sizeof facts.path);
        return;
    }
    copy_text(facts.path, short_form);
    facts.size = found.size_high != 0 ? file_size_too_large : found.size_low;

    os::CalendarTime local{};
    const bool time_known = system.local_time(found.last_write, local);
    // The version is read from the file found, through its own short form
    // when it was read elsewhere.
    char read_short[261];
    const char* version_path = facts.path;
    if (moved.moved && short_form_of(system, read_path, read_short)) version_path = read_short;
    if (read_version) GetFileVersionText(version_path, facts.version);
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

void GetFileVersionText(const char* path, char (&text)[20]) noexcept {
    os::FileVersion version{};
    if (os::process_source().file_version(path, version) != os::VersionLookup::found) {
        text[0] = '\0';
        return;
    }
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", version.most_significant >> 16,
                  version.most_significant & 0xFFFFu, version.least_significant >> 16,
                  version.least_significant & 0xFFFFu);
}

// ---- The cache
//
// The file facts already looked up during the running capture, by upper-cased
// long path. Most modules are loaded into many processes from the same file;
// each file is then searched, shortened, converted and version-read once per
// capture instead of once per process. The cache lives only inside one
// capture: nothing is kept between captures, so every capture sees the files
// as they are.

namespace {

struct Slot {
    bool used;
    bool moved;  // looked up as a 32-bit process sees the system folder
    std::uint32_t hash;
    char path[261];
    FileFacts facts;
};

// Open addressing with linear probing in a power-of-two table that is never
// more than three quarters full.
struct Cache {
    Slot* slots;
    std::uint32_t capacity;
    std::uint32_t used;
};
constinit Cache g_cache{};

constexpr std::uint32_t first_capacity = 64;
// Far beyond the distinct files of any real system; past it nothing more is kept.
constexpr std::uint32_t largest_capacity = 1u << 20;

std::uint32_t hash_of(const char* path) {
    return fnv1a_hash(path, bounded_length(path, sizeof Slot::path - 1));
}

// One path names two files for a 64-bit capture: one as 64-bit processes
// see it, one as 32-bit processes do.
std::uint32_t hash_of(const char* path, bool moved) { return hash_of(path) ^ (moved ? 1u : 0u); }

bool same_path(const Slot& slot, const char* path, bool moved) {
    return slot.moved == moved && std::strncmp(slot.path, path, sizeof slot.path - 1) == 0;
}

// The slot holding `path`, or the empty slot where it would go.
Slot& slot_for(Slot* slots, std::uint32_t capacity, std::uint32_t hash, const char* path,
               bool moved) {
    std::uint32_t index = hash & (capacity - 1);
    while (slots[index].used &&
           (slots[index].hash != hash || !same_path(slots[index], path, moved)))
        index = (index + 1) & (capacity - 1);
    return slots[index];
}

bool grow() {
    if (g_cache.capacity >= largest_capacity) return false;
    const std::uint32_t capacity = g_cache.capacity == 0 ? first_capacity : g_cache.capacity * 2;
    auto* slots = static_cast<Slot*>(obtain_storage(std::size_t{capacity} * sizeof(Slot)));
    if (slots == nullptr) return false;
    for (std::uint32_t i = 0; i < capacity; ++i) slots[i].used = false;
    for (std::uint32_t i = 0; i < g_cache.capacity; ++i) {
        const Slot& old = g_cache.slots[i];
        if (old.used)
            std::memcpy(&slot_for(slots, capacity, old.hash, old.path, old.moved), &old,
                        sizeof old);
    }
    release_storage(g_cache.slots);
    g_cache.slots = slots;
    g_cache.capacity = capacity;
    return true;
}

// Releases the cache's storage; later lookups find nothing.
void empty_file_facts_cache() noexcept {
    release_storage(g_cache.slots);
    g_cache = Cache{};
}

// The facts stored for `upper_path`, or null.
const FileFacts* find_cached_file_facts(const char* upper_path, bool moved) noexcept {
    if (g_cache.used == 0) return nullptr;
    const Slot& slot =
        slot_for(g_cache.slots, g_cache.capacity, hash_of(upper_path, moved), upper_path, moved);
    return slot.used ? &slot.facts : nullptr;
}

// Stores the facts of `upper_path`. When storage for a larger cache cannot be
// had, the facts are simply not kept: a later module of the same file is
// looked up again, with the same result.
void remember_file_facts(const char* upper_path, bool moved, const FileFacts& facts) noexcept {
    if ((g_cache.used + 1) * 4 > g_cache.capacity * 3 && !grow()) return;
    const std::uint32_t hash = hash_of(upper_path, moved);
    Slot& slot = slot_for(g_cache.slots, g_cache.capacity, hash, upper_path, moved);
    if (!slot.used) ++g_cache.used;
    slot.used = true;
    slot.moved = moved;
    slot.hash = hash;
    copy_text(slot.path, upper_path, sizeof slot.path);
    slot.facts = facts;
}

}  // namespace

// ---- The capture

namespace {

// Module names of up to 12 characters are kept; a longer one gives way to
// the 8.3 name of the module's file (see apply_file_facts).
constexpr std::size_t longest_kept_module_name = 12;

void start_module_record(std::uint32_t process_id, const os::ModuleEntry& entry,
                         ModuleRecord& record) {
    record = ModuleRecord{};
    record.dwProcessID = process_id;
    record.dwGlblcntUsage = entry.global_usage;
    record.dwProccntUsage = entry.process_usage;
    copy_text(record.szPath, entry.path);
    if (bounded_length(entry.name, sizeof entry.name) <= longest_kept_module_name)
        copy_text(record.szShortName, entry.name);
    // Only a to z: bytes of 128 and above belong to the code page and stay.
    for (char* c = record.szPath; *c != '\0'; ++c) *c = ascii_upper(*c);
}

void read_facts_once_per_file(ModuleRecord& record, bool read_versions,
                              const os::SystemFolders* seen_from) {
    const bool moved = seen_from != nullptr;
    if (const FileFacts* known = find_cached_file_facts(record.szPath, moved)) {
        apply_file_facts(*known, record);
        return;
    }
    FileFacts facts;
    gather_file_facts(record.szPath, facts, read_versions, seen_from);
    remember_file_facts(record.szPath, moved, facts);
    apply_file_facts(facts, record);
}

// Appends one ModuleRecord for every module of the process.
void capture_process_modules(std::uint32_t process_id, bool read_versions) noexcept {
    os::ProcessSource& system = os::process_source();
    const os::ListHandle modules = system.open_modules(process_id);
    if (modules == 0) return;
    const os::SystemFolders* seen_from = system.folders_seen_otherwise(process_id);
    os::ModuleEntry entry;
    ModuleRecord record;
    for (bool more = system.first_module(modules, entry); more;
         more = system.next_module(modules, entry)) {
        start_module_record(process_id, entry, record);
        read_facts_once_per_file(record, read_versions, seen_from);
        AppendModuleRecord(record);
    }
    system.close_list(modules);
}

}  // namespace

void CaptureSnapShot(bool read_versions) noexcept {
    os::ProcessSource& system = os::process_source();
    const os::ListHandle processes = system.open_processes();
    if (processes == 0) return;
    ProcessRecord entry{};
    entry.dwSize = sizeof(ProcessRecord);
    for (bool more = system.first_process(processes, entry); more;
         more = system.next_process(processes, entry)) {
        AppendProcessRecord(entry);
        capture_process_modules(entry.th32ProcessID, read_versions);
    }
    system.close_list(processes);
    empty_file_facts_cache();
    sort_process_table();
    sort_module_table();
}

}  // namespace korvex::snapshot
