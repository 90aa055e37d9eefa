// Every pointer argument of every export given null, and what each must
// answer and leave behind: one table for the linked-in core and for the DLL.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "export_table.h"

namespace korvex::test {

// `k.take_snapshot` captures at least one process and one module into `work_dir`.
inline void expect_null_arguments_answered(const ExportFunctions& k, const std::string& work_dir) {
    std::vector<ProcessRecord> processes(4096);
    std::vector<ModuleRecord> modules(4096);
    char path[KORVEX_WORKFILE_PATH_SIZE];
    const auto new_path = [&] {
        std::snprintf(path, sizeof path, "x");
        k.new_work_file(path);
        return std::string(path);
    };
    k.set_rows_per_call(4096);  // every record in one page
    ASSERT_EQ(k.init_snapshots(work_dir.c_str()), 0);
    ASSERT_EQ(k.take_snapshot("held"), 0);

    // Each answers in its own codes and writes, registers or moves nothing.
    const std::int32_t answers[] = {k.read_processes(nullptr),   k.read_modules(nullptr),
                                    k.get_work_file(nullptr),    k.new_work_file(nullptr),
                                    k.delete_snapshot(nullptr),  k.map_file(nullptr),
                                    k.import_modules(nullptr),   k.export_names(nullptr),
                                    k.import_functions(nullptr), k.get_version(nullptr)};
    EXPECT_EQ(std::vector<std::int32_t>(std::begin(answers), std::end(answers)),
              (std::vector<std::int32_t>{KORVEX_READ_END, KORVEX_READ_END, -1, -1, -1,
                                         KORVEX_MAP_OPEN_FAILED, 0, 0, 0, 0}));
    // A loop that reads until the end code stops at once on a null buffer.
    int calls = 0;
    while (k.read_modules(nullptr) != KORVEX_READ_END && calls < 3) ++calls;
    EXPECT_EQ(calls, 0);
    EXPECT_GT(k.read_processes(processes.data()), 0) << "the page moved on";
    EXPECT_GT(k.read_modules(modules.data()), 0) << "the page moved on";
    EXPECT_EQ(new_path(), work_dir + "\\snp00001.wrk") << "a null call drew from the counter";

    // A null name finds nothing, and a take without one leaves nothing current.
    EXPECT_EQ(k.select_snapshot(nullptr), -1);
    EXPECT_EQ(k.read_processes(processes.data()), -1);
    ASSERT_EQ(k.select_snapshot("held"), 0);
    EXPECT_EQ(k.take_snapshot(nullptr), -2);
    EXPECT_EQ(k.read_modules(modules.data()), -1);
    EXPECT_EQ(new_path(), work_dir + "\\snp00002.wrk")
        << "a take without a name drew from the counter";

    EXPECT_EQ(k.init_snapshots(nullptr), 0);  // the empty directory
    EXPECT_EQ(new_path(), "\\snp00000.wrk");
    k.init_snapshots("");
}

}  // namespace korvex::test
