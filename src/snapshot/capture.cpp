#include "snapshot/capture.h"

#include "fixed_text.h"
#include "korvex32.h"
#include "os/process_source.h"
#include "snapshot/file_facts.h"
#include "snapshot/record_order.h"
#include "snapshot/tables.h"

namespace korvex::snapshot {

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

void read_facts_once_per_file(ModuleRecord& record) {
    if (const FileFacts* known = find_cached_file_facts(record.szPath)) {
        apply_file_facts(*known, record);
        return;
    }
    FileFacts facts;
    gather_file_facts(record.szPath, facts);
    remember_file_facts(record.szPath, facts);
    apply_file_facts(facts, record);
}

}  // namespace

void CaptureProcessModules(std::uint32_t processId) noexcept {
    os::ProcessSource& system = os::process_source();
    const os::ListHandle modules = system.open_modules(processId);
    if (modules == 0) return;
    os::ModuleEntry entry;
    ModuleRecord record;
    for (bool more = system.first_module(modules, entry); more;
         more = system.next_module(modules, entry)) {
        start_module_record(processId, entry, record);
        read_facts_once_per_file(record);
        AppendModuleRecord(record);
    }
    system.close_list(modules);
}

void CaptureSnapShot() noexcept {
    os::ProcessSource& system = os::process_source();
    const os::ListHandle processes = system.open_processes();
    if (processes == 0) return;
    begin_file_facts_cache();
    ProcessRecord entry{};
    entry.dwSize = sizeof(ProcessRecord);
    for (bool more = system.first_process(processes, entry); more;
         more = system.next_process(processes, entry)) {
        AppendProcessRecord(entry);
        CaptureProcessModules(entry.th32ProcessID);
    }
    system.close_list(processes);
    end_file_facts_cache();
    SortProcessTable();
    SortModuleTable();
}

}  // namespace korvex::snapshot
