// korvex diff between two work files: built ones with every kind of change,
// and two real snapshots around the start of a helper process.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "korvex_cli.h"
#include "temp_dir.h"

namespace {

using namespace korvex::test;
using nlohmann::json;

std::vector<std::string> names(const json& modules) {
    std::vector<std::string> list;
    for (const auto& m : modules) list.push_back(m["name"]);
    return list;
}

TEST(KorvexCliDiff, EveryKindOfChange) {
    TempDir dir;
    const std::string before = dir.write(
        "before.wrk",
        work_file_bytes(
            {process_record(4, "app.exe"), process_record(9, "gone.exe"),
             process_record(5, "same.exe")},
            {module_record(4, "a.dll", "1.0", 10), module_record(4, "old.dll", "1.0", 10),
             module_record(9, "g.dll", "1.0", 10), module_record(5, "s.dll", "1.0", 10)}));
    const std::string after = dir.write(
        "after.wrk",
        work_file_bytes(
            {process_record(4, "app.exe"), process_record(8, "new.exe"),
             process_record(5, "same.exe")},
            {module_record(4, "a.dll", "1.1", 12), module_record(4, "new.dll", "1.0", 10),
             module_record(8, "n.dll", "1.0", 10), module_record(5, "s.dll", "1.0", 10)}));
    const auto run = korvex_cli({"diff", "--json", before, after});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const json difference = json::parse(run.out);
    ASSERT_EQ(difference["started"].size(), 1u);
    EXPECT_EQ(difference["started"][0]["pid"], 8);
    EXPECT_EQ(names(difference["started"][0]["loaded"]), std::vector<std::string>{"n.dll"});
    ASSERT_EQ(difference["ended"].size(), 1u);
    EXPECT_EQ(names(difference["ended"][0]["unloaded"]), std::vector<std::string>{"g.dll"});
    ASSERT_EQ(difference["changed"].size(), 1u) << "same.exe did not change";
    const json& app = difference["changed"][0];
    EXPECT_EQ(names(app["loaded"]), std::vector<std::string>{"new.dll"});
    EXPECT_EQ(names(app["unloaded"]), std::vector<std::string>{"old.dll"});
    ASSERT_EQ(app["updated"].size(), 1u);
    EXPECT_EQ(app["updated"][0]["before"]["version"], "1.0");
    EXPECT_EQ(app["updated"][0]["after"]["size"], 12);

    const auto text = korvex_cli({"diff", before, after});
    EXPECT_NE(text.out.find("1 started, 1 ended, 1 changed\n"), std::string::npos) << text.out;
    EXPECT_EQ(korvex_cli({"diff", before, dir.file("missing.wrk")}).exit_code, 1);
}

TEST(KorvexCliDiff, AHelperStartedBetweenTwoSnapshotsIsNew) {
    TempDir dir;
    const auto take = [&](const char* file) {
        return korvex_cli({"snapshot", "--no-versions", "-o", dir.file(file)}).exit_code;
    };
    ASSERT_EQ(take("before.wrk"), 0);
    const unsigned helper = start_sleeping_child();
    ASSERT_NE(helper, 0u);
    const int taken = take("after.wrk");
    end_child(helper, true);
    ASSERT_EQ(taken, 0);
    const auto run = korvex_cli({"diff", "--json", dir.file("before.wrk"), dir.file("after.wrk")});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const json difference = json::parse(run.out);
    const auto started = std::find_if(difference["started"].begin(), difference["started"].end(),
                                      [&](const json& p) { return p["pid"] == helper; });
    ASSERT_NE(started, difference["started"].end()) << run.out.substr(0, 2000);
    EXPECT_FALSE((*started)["loaded"].empty());
    for (const auto& module : (*started)["loaded"]) EXPECT_EQ(module["pid"], helper);
}

}  // namespace
