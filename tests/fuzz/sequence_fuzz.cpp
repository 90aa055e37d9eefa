// Calls to the registry and readout exports decoded from the input, driven
// side by side with a reference model (tests/support/snapshot_model.h) and compared after
// every call: names of every length and byte, work directories at and past
// the path limit, rows-per-call from negative to INT32_MAX, filters, pages,
// deletes, work files written by the "host" from the input, work files cut
// short or removed behind the library's back, the n-th allocation failing,
// and captures either appended verbatim or run for real on a process source
// decoded from the input.
//
// Whatever the input, nothing crashes or touches memory it does not own
// (ASan, UBSan, LSan), every answer is one the library documents and the
// model predicts, and the tables, list and cursors agree with the model.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "fuzz_process_source.h"
#include "guarded_path.h"
#include "korvex32.h"
#include "os/process_source.h"
#include "snapshot/readout.h"
#include "snapshot/record_order.h"
#include "snapshot/tables.h"
#include "snapshot_model.h"
#include "temp_dir.h"
#include "test_seams.h"

namespace {

using namespace korvex::fuzz;
using korvex::test::Bytes;
using korvex::test::GuardedPath;
using korvex::test::Tables;
using Model = korvex::test::SnapshotModel;
namespace snap = korvex::snapshot;

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "sequence_fuzz: %s\n", what);
        std::abort();
    }
}

// ---- Work directories ---------------------------------------------------------

struct Directory {
    std::string text;
    bool writable;  // the work files under it can be created
};

std::string g_base;
std::string g_deep_parent;
std::vector<Directory> g_directories;

void make_folders(const std::string& path) {
    for (std::size_t at = 1; at <= path.size(); ++at)
        if (at == path.size() || path[at] == '/') ::mkdir(path.substr(0, at).c_str(), 0700);
}

void remove_files_in(const std::string& folder) {
    DIR* listing = ::opendir(folder.c_str());
    if (listing == nullptr) return;
    while (const dirent* item = ::readdir(listing)) {
        const std::string path = folder + "/" + item->d_name;
        struct stat facts {};
        if (::lstat(path.c_str(), &facts) == 0 && S_ISREG(facts.st_mode)) ::unlink(path.c_str());
    }
    ::closedir(listing);
}

void remove_everything() {
    remove_files_in(g_base);
    remove_files_in(g_deep_parent);
    for (std::string folder = g_deep_parent; folder.size() > g_base.size();
         folder = folder.substr(0, folder.rfind('/')))
        ::rmdir(folder.c_str());
    ::rmdir(g_base.c_str());
}

// Natively the library's "<directory>\snpNNNNN.wrk" is a file whose name
// starts with the directory's last component, beside it.
void set_up_directories() {
    char pattern[] = "/tmp/korvex-sequence-fuzz-XXXXXX";
    check(::mkdtemp(pattern) != nullptr, "no temporary folder");
    g_base = pattern;
    std::atexit(remove_everything);

    // A directory of exactly 502 characters: its work-file paths are 515.
    std::string deep = g_base + "/deep";
    while (deep.size() < 502 - 60) deep += "/" + std::string(50, 'd');
    g_deep_parent = deep;
    deep += "/" + std::string(502 - deep.size() - 1, 'e');
    check(deep.size() == 502, "deep directory length");
    make_folders(g_deep_parent);

    g_directories = {
        {g_base + "/w", true},
        {g_base + "/w\\", true},                 // trailing backslash: two before the name
        {g_base + "/missing/w", false},          // no such folder
        {deep, true},                            // paths of exactly 515 characters
        {deep + "f", false},                     // 503: no path fits
        {deep + std::string(13, 'g'), false},    // 515
        {deep + std::string(1498, 'h'), false},  // 2,000, cut to 515
        {g_base + "/\xE9\xFF", true},            // bytes of 128 and above
    };
}

// ---- Names ------------------------------------------------------------------------

const std::string g_names[] = {"",
                               "a",
                               "A",
                               "b",
                               "ab",
                               std::string(50, 'x'),
                               std::string(50, 'x') + "y",
                               std::string(1000, 'x'),
                               "\xE9t\xE9",
                               std::string(49, 'x')};

std::string some_name(FuzzInput& in) {
    const std::uint8_t choice = in.byte();
    return choice < 0xE0 ? g_names[choice % std::size(g_names)] : in.bytes(80);
}

// ---- Captures -----------------------------------------------------------------------

Tables g_verbatim;  // what the verbatim capture appends next

void capture_verbatim() {
    for (const ProcessRecord& record : g_verbatim.processes) snap::AppendProcessRecord(record);
    for (const ModuleRecord& record : g_verbatim.modules) snap::AppendModuleRecord(record);
}

Tables some_tables(FuzzInput& in) {
    static const std::uint32_t ids[] = {0, 1, 2, 3, 0x80000000u};
    Tables made;
    made.processes.resize(in.pick(90));
    made.modules.resize(in.pick(130));
    const std::uint8_t seed = in.byte();
    for (std::size_t i = 0; i < made.processes.size(); ++i) {
        std::memset(&made.processes[i], seed ^ static_cast<int>(i), sizeof(ProcessRecord));
        made.processes[i].th32ProcessID = ids[(seed + i) % std::size(ids)];
    }
    for (std::size_t i = 0; i < made.modules.size(); ++i) {
        std::memset(&made.modules[i], seed + static_cast<int>(i), sizeof(ModuleRecord));
        made.modules[i].dwProcessID = ids[(seed * 3 + i) % std::size(ids)];
    }
    return made;
}

// ---- Comparing the library with the model -------------------------------------------------

void compare(const Model& model) {
    const std::string difference = korvex::test::model_difference(model);
    check(difference.empty(), difference.c_str());
}

bool file_exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// The disk agrees with the model for this entry's work file.
void check_disk(const Model& model, const Model::Entry& entry) {
    if (!entry.path_fits()) return;
    const auto file = model.disk.find(entry.path);
    if (file == model.disk.end())
        check(!file_exists(entry.path), "a work file the model does not have");
    else
        check(korvex::test::read_file(entry.path) == file->second,
              "work file differs from the model's");
}

// ---- The calls ------------------------------------------------------------------------

void take(FuzzInput& in, Model& model, bool real_capture) {
    const std::string name = some_name(in);
    FuzzProcessSource source;
    if (real_capture) {
        source.decode(in);
        korvex::os::set_process_source(&source);
        snap::set_capture_for_tests(nullptr);
        SetGetVersionNumber(in.byte() & 1);
    } else {
        g_verbatim = some_tables(in);
        snap::set_capture_for_tests(capture_verbatim);
    }
    const bool registered = model.register_entry(Model::key(name.c_str()));
    const std::int32_t result = TakeSnapShot(name.c_str());
    korvex::os::set_process_source(nullptr);

    if (!registered) {
        check(result == KORVEX_WORKFILE_CREATE_FAILED, "take without storage: not -2");
        model.current.reset();
        model.tables = {};
        return;
    }
    Tables captured;
    if (!real_capture) {
        captured.processes = model.appended(g_verbatim.processes);
        captured.modules = model.appended(g_verbatim.modules);
    } else {
        // The capture's own allocations (tables and the file facts cache)
        // are not modelled: what is left of the countdown is taken over.
        const long left = snap::fail_storage_after(0);
        snap::fail_storage_after(left);
        const bool fault_hit = model.countdown > 0 && left == 0;
        model.countdown = left;
        const auto& p = snap::process_table();
        const auto& m = snap::module_table();
        check(source.lists_balanced(), "a list left open");
        std::size_t expected_processes = 0, expected_modules = 0;
        if (!source.process_list_fails) {
            expected_processes = source.processes.size();
            for (const auto& process : source.processes)
                if (!process.module_list_fails) expected_modules += process.modules.size();
        }
        const auto got = static_cast<std::size_t>(p.count) + static_cast<std::size_t>(m.count);
        check(static_cast<std::size_t>(p.count) <= expected_processes &&
                  static_cast<std::size_t>(m.count) <= expected_modules &&
                  got + (fault_hit ? 1 : 0) >= expected_processes + expected_modules,
              "capture lost or added records");
        for (std::int32_t i = 0; i < p.count; ++i) {
            check(p.records[i].dwSize == sizeof(ProcessRecord), "dwSize not 296");
            if (i > 0)
                check(snap::CompareProcessRecords(p.records[i - 1], p.records[i]) <= 0,
                      "processes not sorted");
        }
        for (std::int32_t i = 0; i < m.count; ++i) {
            const ModuleRecord& r = m.records[i];
            check(strnlen(r.szShortName, sizeof r.szShortName) <= 13 &&
                      strnlen(r.szVersion, sizeof r.szVersion) < sizeof r.szVersion &&
                      strnlen(r.szDate, sizeof r.szDate) < sizeof r.szDate &&
                      strnlen(r.szTime, sizeof r.szTime) < sizeof r.szTime &&
                      strnlen(r.szPath, sizeof r.szPath) < sizeof r.szPath,
                  "a text runs out of its field");
            if (i > 0)
                check(snap::CompareModuleRecords(m.records[i - 1], r) <= 0, "modules not sorted");
        }
        captured.processes.assign(p.records, p.records + p.count);
        captured.modules.assign(m.records, m.records + m.count);
    }
    const std::int32_t expected = model.save(captured);
    check(result == expected, "take answered otherwise");
    check_disk(model, model.entries.back());
}

void new_work_file(FuzzInput& in, Model& model) {
    const std::string name = some_name(in);
    GuardedPath buffer(name);
    const bool registered =
        model.next_path_fits() && model.register_entry(Model::key(buffer.bytes));
    check(NewSnapShotWorkFile(buffer.bytes) == KORVEX_OK, "NewSnapShotWorkFile not 0");
    check(buffer.guard_intact(), "NewSnapShotWorkFile wrote past 516 bytes");
    if (!registered) {
        check(buffer.bytes[0] == '\0', "a path for an entry that was not registered");
        return;
    }
    const Model::Entry& entry = model.entries.back();
    check(entry.path == buffer.bytes, "NewSnapShotWorkFile path differs");
    // The host places a file there: a whole snapshot, or raw bytes.
    const std::uint8_t kind = in.byte() % 3;
    if (kind == 0 || !model.directory_writable) return;
    Bytes bytes;
    if (kind == 1) {
        bytes = work_file_bytes(some_tables(in));
    } else {
        const std::string raw = in.bytes(255);
        bytes.assign(raw.begin(), raw.end());
    }
    korvex::test::write_file(entry.path, bytes);
    model.disk[entry.path] = bytes;
}

// The file of a registered snapshot changes behind the library's back.
void disturb_work_file(FuzzInput& in, Model& model) {
    if (model.entries.empty()) return;
    const Model::Entry& entry = model.entries[in.pick(model.entries.size())];
    if (!entry.path_fits() || !model.directory_writable) return;
    const auto file = model.disk.find(entry.path);
    switch (in.byte() % 4) {
        case 0:  // deleted
            ::unlink(entry.path.c_str());
            model.disk.erase(entry.path);
            break;
        case 1:  // cut short
            if (file != model.disk.end() && !file->second.empty()) {
                file->second.resize(in.u16() % file->second.size());
                korvex::test::write_file(entry.path, file->second);
            }
            break;
        case 2: {  // extra bytes after the records
            if (file == model.disk.end()) break;
            const std::string extra = in.bytes(40);
            file->second.insert(file->second.end(), extra.begin(), extra.end());
            korvex::test::write_file(entry.path, file->second);
            break;
        }
        default: {  // a count changed in place
            if (file == model.disk.end() || file->second.size() < 4) break;
            const std::size_t at = in.byte() % 2 == 0 ? 0 : file->second.size() - 4;
            const std::uint32_t count = in.u32();
            for (int i = 0; i < 4; ++i)
                file->second[at + i] = static_cast<std::uint8_t>(count >> (8 * i));
            korvex::test::write_file(entry.path, file->second);
        }
    }
}

template <typename Record>
void read_page(std::int32_t (*read)(Record*),
               std::int32_t (Model::*model_read)(std::vector<Record>&), Model& model,
               std::size_t table_size) {
    // Exactly the room the contract asks for (rows-per-call records), capped
    // by what the table could fill, so any write past the page is a fault.
    const std::size_t rows = static_cast<std::size_t>(model.rows);
    const std::size_t room = rows < table_size ? rows : (table_size == 0 ? 1 : table_size);
    std::vector<Record> buffer(room);
    std::vector<Record> expected;
    const std::int32_t answer = (model.*model_read)(expected);
    check(read(buffer.data()) == answer, "page answer differs");
    if (answer > 0 && answer != KORVEX_READ_END)
        check(korvex::test::same_records(buffer.data(), static_cast<std::size_t>(answer), expected),
              "page records differ");
}

void step(FuzzInput& in, Model& model) {
    static const std::int32_t rows_choices[] = {-5, 0, 1, 2, 3, 7, 40, 100, INT32_MAX};
    switch (in.byte() % 16) {
        case 0: {
            const Directory& directory = g_directories[in.pick(g_directories.size())];
            check(InitSnapShots(directory.text.c_str()) == KORVEX_OK, "InitSnapShots not 0");
            model.init(directory.text, directory.writable);
            break;
        }
        case 1:
        case 2:
            take(in, model, false);
            break;
        case 3:
            take(in, model, true);
            break;
        case 4: {
            const std::string name = some_name(in);
            check(SelectSnapShot(name.c_str()) == model.select(Model::key(name.c_str())),
                  "select differs");
            break;
        }
        case 5:
            check(ClearCurSnapShot() == KORVEX_OK, "ClearCurSnapShot not 0");
            model.current.reset();
            model.tables = {};
            break;
        case 6: {
            const std::string name = some_name(in);
            const auto found = model.find(Model::key(name.c_str()));
            const std::optional<Model::Entry> entry =
                found ? std::optional<Model::Entry>(model.entries[*found]) : std::nullopt;
            check(DeleteSnapShot(name.c_str()) == model.remove(Model::key(name.c_str())),
                  "delete differs");
            if (entry && entry->path_fits())
                check(!file_exists(entry->path), "deleted work file still there");
            break;
        }
        case 7: {
            GuardedPath buffer(some_name(in));
            const GuardedPath untouched = buffer;
            const auto found = model.find(Model::key(buffer.bytes));
            const std::int32_t result = GetSnapShotWorkFile(buffer.bytes);
            check(buffer.guard_intact(), "GetSnapShotWorkFile wrote past 516 bytes");
            if (!found) {
                check(result == KORVEX_SNAPSHOT_NOT_FOUND, "get of an unknown name not -1");
                check(std::memcmp(buffer.bytes, untouched.bytes, sizeof buffer.bytes) == 0,
                      "buffer changed on -1");
            } else {
                const Model::Entry& entry = model.entries[*found];
                check(result == KORVEX_OK && (entry.path_fits() ? entry.path : "") == buffer.bytes,
                      "GetSnapShotWorkFile path differs");
            }
            break;
        }
        case 8:
            new_work_file(in, model);
            break;
        case 9: {
            const std::uint8_t choice = in.byte();
            const std::int32_t rows = choice < 0xF0
                                          ? rows_choices[choice % std::size(rows_choices)]
                                          : static_cast<std::int32_t>(in.u32() % 2048) - 1024;
            SetRowsPerCall(rows);
            model.rows = rows < 1 ? 1 : rows;
            break;
        }
        case 10: {
            const std::uint32_t id =
                FuzzProcessSource::ids[in.pick(std::size(FuzzProcessSource::ids))];
            check(SelectProcess(id) == static_cast<std::int32_t>(id), "SelectProcess answer");
            model.filter = id;
            break;
        }
        case 11:
            read_page(ReadSnapShotProcesses, &Model::read_processes, model,
                      model.tables.processes.size());
            break;
        case 12:
            read_page(ReadSnapShotModules, &Model::read_modules, model,
                      model.tables.modules.size());
            break;
        case 13: {
            const long n = 1 + in.byte() % 12;
            snap::fail_storage_after(n);
            model.countdown = n;
            break;
        }
        case 14:
            disturb_work_file(in, model);
            break;
        default: {
            const auto flag = static_cast<std::int32_t>(in.u32());
            check(SetGetVersionNumber(flag) == flag, "SetGetVersionNumber answer");
        }
    }
    compare(model);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (g_directories.empty()) set_up_directories();
    remove_files_in(g_base);
    remove_files_in(g_deep_parent);

    snap::fail_storage_after(0);
    snap::set_capture_for_tests(nullptr);
    SetRowsPerCall(1);
    SelectProcess(0);
    SetGetVersionNumber(1);
    check(InitSnapShots(g_directories[0].text.c_str()) == KORVEX_OK, "InitSnapShots not 0");
    snap::rewind_readout();
    Model model;
    model.init(g_directories[0].text, true);

    FuzzInput in(data, size);
    for (int steps = 0; steps < 200 && !in.empty(); ++steps) step(in, model);

    // Leave nothing behind for LeakSanitizer to find between inputs.
    snap::fail_storage_after(0);
    snap::set_capture_for_tests(nullptr);
    InitSnapShots("");
    return 0;
}
