// Shared set-up of the capture tests: empty tables, storage that does not
// fail, and a fake process source installed.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_process_source.h"
#include "korvex32.h"
#include "snapshot/capture.h"
#include "snapshot/tables.h"
#include "test_seams.h"

namespace korvex::test {

class CaptureTest : public testing::Test {
protected:
    FakeProcessSource fake;

    void SetUp() override {
        snapshot::ClearSnapShotTables();
        os::set_process_source(&fake);
    }
    void TearDown() override {
        os::set_process_source(nullptr);
        snapshot::fail_storage_after(0);
        snapshot::ClearSnapShotTables();
    }

    static std::vector<ModuleRecord> modules() {
        const auto& table = snapshot::module_table();
        return {table.records, table.records + table.count};
    }
    static std::vector<ProcessRecord> processes() {
        const auto& table = snapshot::process_table();
        return {table.records, table.records + table.count};
    }

    // Empty tables and a fake without processes or files, for the next case.
    void start_over() {
        snapshot::ClearSnapShotTables();
        fake = FakeProcessSource{};
    }

    // Captures one process with one module and answers that module's record.
    ModuleRecord capture_one_module(const std::string& name, const std::string& path,
                                    bool read_versions = true) {
        fake.add_process(4, "TOOL.EXE").add_module(name, path);
        snapshot::CaptureSnapShot(read_versions);
        const auto all = modules();
        EXPECT_EQ(all.size(), 1u);
        return all.empty() ? ModuleRecord{} : all.front();
    }
};

}  // namespace korvex::test
