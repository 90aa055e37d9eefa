// Every pointer argument of every export given null, and what each must
// answer and leave behind: one table for the linked-in core and for the DLL.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "korvex32.h"

namespace korvex::test {

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

// `k.take` captures at least one process and one module into `work_dir`.
inline void expect_null_arguments_answered(const PointerExports& k, const std::string& work_dir) {
    std::vector<ProcessRecord> processes(4096);
    std::vector<ModuleRecord> modules(4096);
    char path[KORVEX_WORKFILE_PATH_SIZE];
    const auto new_path = [&] {
        std::snprintf(path, sizeof path, "x");
        k.new_work_file(path);
        return std::string(path);
    };
    k.set_rows(4096);  // every record in one page
    ASSERT_EQ(k.init(work_dir.c_str()), 0);
    ASSERT_EQ(k.take("held"), 0);

    // Each answers in its own codes and writes, registers or moves nothing.
    const std::int32_t answers[] = {k.read_processes(nullptr), k.read_modules(nullptr), k.get_work_file(nullptr),
                                    k.new_work_file(nullptr),  k.remove(nullptr),       k.map(nullptr),
                                    k.import_modules(nullptr), k.export_names(nullptr), k.import_functions(nullptr),
                                    k.version(nullptr)};
    EXPECT_EQ(std::vector<std::int32_t>(std::begin(answers), std::end(answers)),
              (std::vector<std::int32_t>{0, 0, -1, -1, -1, KORVEX_MAP_OPEN_FAILED, 0, 0, 0, 0}));
    EXPECT_GT(k.read_processes(processes.data()), 0) << "the page moved on";
    EXPECT_GT(k.read_modules(modules.data()), 0) << "the page moved on";
    EXPECT_EQ(new_path(), work_dir + "\\snp00001.wrk") << "a null call drew from the counter";

    // A null name finds nothing, and a take without one leaves nothing current.
    EXPECT_EQ(k.select(nullptr), -1);
    EXPECT_EQ(k.read_processes(processes.data()), -1);
    ASSERT_EQ(k.select("held"), 0);
    EXPECT_EQ(k.take(nullptr), -2);
    EXPECT_EQ(k.read_modules(modules.data()), -1);
    EXPECT_EQ(new_path(), work_dir + "\\snp00002.wrk") << "a take without a name drew from the counter";

    EXPECT_EQ(k.init(nullptr), 0);  // the empty directory
    EXPECT_EQ(new_path(), "\\snp00000.wrk");
    k.init("");
}

}  // namespace korvex::test
