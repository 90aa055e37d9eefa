// Every pointer argument of every export given null, and what each must
// answer and leave behind. One table for the linked-in core and for the DLL
// under Wine, so both are held to the same outcomes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "korvex32.h"

namespace korvex::test {

// The exports that take a pointer, and those needed to see their effects.
struct PointerExports {
    decltype(&::SetRowsPerCall) set_rows;
    decltype(&::InitSnapShots) init;
    decltype(&::TakeSnapShot) take;
    decltype(&::SelectSnapShot) select;
    decltype(&::ReadSnapShotModules) read_modules;
    decltype(&::ReadSnapShotProcesses) read_processes;
    decltype(&::DeleteSnapShot) remove;
    decltype(&::GetSnapShotWorkFile) get_work_file;
    decltype(&::NewSnapShotWorkFile) new_work_file;
    decltype(&::MapFile) map;
    decltype(&::GetImportModuleNamesPE) import_modules;
    decltype(&::GetExportFunctionNamesPE) export_names;
    decltype(&::GetImportFuncNamesByModulePE) import_functions;
    decltype(&::GetVersionEx32) version;
};

// `k.take` must capture at least one process and one module, and `work_dir`
// must be a directory the work files can be written to.
inline void expect_null_arguments_answered(const PointerExports& k, const std::string& work_dir) {
    constexpr std::int32_t rows = 4096;  // every record in one page
    std::vector<ProcessRecord> processes(rows);
    std::vector<ModuleRecord> modules(rows);
    char path[KORVEX_WORKFILE_PATH_SIZE];
    const auto path_of = [&](const char* name) {
        std::snprintf(path, sizeof path, "%s", name);
        return k.get_work_file(path) == KORVEX_OK ? std::string(path) : std::string("-1");
    };
    k.set_rows(rows);
    ASSERT_EQ(k.init(work_dir.c_str()), 0);
    ASSERT_EQ(k.take("held"), 0);

    // Answers of their own kind, with nothing written, registered or moved.
    const struct {
        const char* call;
        std::int32_t (*run)(const PointerExports&);
        std::int32_t expected;
    } untouched[] = {
        {"ReadSnapShotProcesses", [](const PointerExports& e) { return e.read_processes(nullptr); }, 0},
        {"ReadSnapShotModules", [](const PointerExports& e) { return e.read_modules(nullptr); }, 0},
        {"GetSnapShotWorkFile", [](const PointerExports& e) { return e.get_work_file(nullptr); }, -1},
        {"NewSnapShotWorkFile", [](const PointerExports& e) { return e.new_work_file(nullptr); }, -1},
        {"DeleteSnapShot", [](const PointerExports& e) { return e.remove(nullptr); }, -1},
        {"MapFile", [](const PointerExports& e) { return e.map(nullptr); }, KORVEX_MAP_OPEN_FAILED},
        {"GetImportModuleNamesPE", [](const PointerExports& e) { return e.import_modules(nullptr); }, 0},
        {"GetExportFunctionNamesPE", [](const PointerExports& e) { return e.export_names(nullptr); }, 0},
        {"GetImportFuncNamesByModulePE", [](const PointerExports& e) { return e.import_functions(nullptr); }, 0},
        {"GetVersionEx32", [](const PointerExports& e) { return e.version(nullptr); }, 0},
    };
    for (const auto& c : untouched) EXPECT_EQ(c.run(k), c.expected) << c.call << "(null)";
    EXPECT_GT(k.read_processes(processes.data()), 0) << "the process page was not handed out";
    EXPECT_GT(k.read_modules(modules.data()), 0) << "the module page was not handed out";
    const std::string held_path = path_of("held");
    ASSERT_NE(held_path, "-1");
    EXPECT_EQ(held_path.substr(held_path.size() - 12), "snp00000.wrk");

    // A null name finds nothing: no snapshot is current afterwards.
    EXPECT_EQ(k.select(nullptr), -1);
    EXPECT_EQ(k.read_processes(processes.data()), -1);
    ASSERT_EQ(k.select("held"), 0);
    // A take without a name registers nothing and leaves nothing current.
    EXPECT_EQ(k.take(nullptr), -2);
    EXPECT_EQ(k.read_processes(processes.data()), -1);
    EXPECT_EQ(k.read_modules(modules.data()), -1);
    std::snprintf(path, sizeof path, "next");
    ASSERT_EQ(k.new_work_file(path), 0);
    EXPECT_EQ(std::string(path), work_dir + "\\snp00001.wrk") << "a null call drew from the counter";
    EXPECT_EQ(path_of("held"), held_path);

    // A null work directory is the empty one.
    EXPECT_EQ(k.init(nullptr), 0);
    std::snprintf(path, sizeof path, "after");
    ASSERT_EQ(k.new_work_file(path), 0);
    EXPECT_EQ(std::string(path), "\\snp00000.wrk");
    EXPECT_EQ(k.init(""), 0);
}

}  // namespace korvex::test
