// The peak memory korvex takes on crafted files, against the ceiling
// docs/cli.md gives (16 times each file's size plus 64 MiB, added over the
// files a run reads): the crafted files of
// tests/korvex/deps_limits_test.cpp, and an ordinary DLL beside them. Each
// run is a child of its own, its peak read with wait4.
//
//   deps_memory_bench KORVEX [RUNNER]
// KORVEX is the program to run; RUNNER (e.g. wine) runs it, for the Windows
// build: the peak is then that of the Wine process holding korvex.exe.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "pe_builder.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace korvex::test;

struct Peak {
    int status = -1;
    long kilobytes = 0;
};

Peak run(const std::vector<std::string>& arguments) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(127);
        if (std::freopen("/dev/null", "w", stderr) == nullptr) _exit(127);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), usage.ru_maxrss};
}

std::vector<std::string> names(const char* prefix, int count, const char* target = "") {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i)
        out.push_back(target + std::string(*target ? "." : "") + prefix + std::to_string(i));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: deps_memory_bench KORVEX [RUNNER]\n");
        return 2;
    }
    TempDir dir;
    const std::string sys = (dir.path() / "sys").string();
    fs::create_directories(sys);
    // The files are made in a child of their own: a child's peak counts the
    // memory of the process it was forked from, which so stays small.
    std::fflush(stdout);
    const pid_t maker = fork();
    if (maker == 0) {
        std::vector<ImportSpec::Function> looped;
        for (const auto& name : names("f", 200000)) looped.push_back(by_name(name));
        dir.write("loop/alpha.dll",
                  pe_image(PeKind::pe32, {}, names("f", 60000), names("f", 60000, "beta")));
        dir.write("loop/beta.dll",
                  pe_image(PeKind::pe32, {}, names("f", 60000), names("f", 60000, "alpha")));
        dir.write("loop/app.exe", pe_image(PeKind::pe32, {{"alpha.dll", looped}}));
        dir.write("schema/sys/apisetschema.dll", shared_name_schema(14000, 8000));
        dir.write("schema/app.exe",
                  pe_image(PeKind::pe32, {{"api-ms-win-core-x-l1-1-0.dll", {by_name("f")}}}));
        dir.write("shared.exe", shared_name_program(250000, 8000));
        dir.write("names.dll", pe_image(PeKind::pe32, {}, names("n", 1000001)));
        dir.write("ordinary.dll", pe_image(PeKind::pe32, {}, names("n", 20000)));
        _exit(0);
    }
    int made = 0;
    waitpid(maker, &made, 0);
    if (!WIFEXITED(made) || WEXITSTATUS(made) != 0) return 1;
    const auto path = [&](const char* name) { return (dir.path() / name).string(); };
    const std::string shared = path("shared.exe"), many = path("names.dll");
    const std::string loop = path("loop/app.exe"), schema_app = path("schema/app.exe");
    const std::string ordinary = path("ordinary.dll");

    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        std::vector<std::string> files;  // what the run reads: their ceilings add up
    };
    const std::vector<Case> cases = {
        {"one long import name shared by 250,000 entries: deps",
         {"deps", "--system", sys, shared},
         {shared}},
        {"the same: inspect --imports", {"inspect", "--imports", shared}, {shared}},
        {"1,000,001 export names: deps", {"deps", "--system", sys, many}, {many}},
        {"the same: inspect --exports", {"inspect", "--exports", many}, {many}},
        {"200,000 imports through forwarders that loop",
         {"deps", "--system", sys, loop},
         {loop, path("loop/alpha.dll"), path("loop/beta.dll")}},
        {"14,000 API sets sharing one name",
         {"deps", "--system", (dir.path() / "schema/sys").string(), schema_app},
         {schema_app, path("schema/sys/apisetschema.dll")}},
        {"an ordinary DLL of 20,000 exports: deps",
         {"deps", "--system", sys, ordinary},
         {ordinary}},
    };
    std::printf("%-52s %10s %6s %12s %14s\n", "file", "size (KB)", "exit", "peak (KB)",
                "ceiling (KB)");
    for (const auto& c : cases) {
        std::vector<std::string> command;
        if (argc > 2) command.push_back(argv[2]);
        command.push_back(argv[1]);
        command.insert(command.end(), c.arguments.begin(), c.arguments.end());
        std::uintmax_t size = 0, ceiling = 0;
        for (const auto& file : c.files) {
            size += fs::file_size(file);
            ceiling += (16 * fs::file_size(file) + (64u << 20)) / 1024;
        }
        const Peak peak = run(command);
        std::printf("%-52s %10ld %6d %12ld %14ld\n", c.what, static_cast<long>(size / 1024),
                    peak.status, peak.kilobytes, static_cast<long>(ceiling));
        std::printf("result deps_memory \"%s\" %ld %ld\n", c.what, peak.kilobytes,
                    static_cast<long>(ceiling));
    }
    // Just below the refusal point, where what is kept comes closest to the
    // ceiling: programs of N entries sharing one import name, N the largest
    // the run accepts (found by halving the range), for each reader.
    const std::string near = path("near.exe");
    const auto make = [&](std::uint32_t entries, std::uint32_t length) {
        std::fflush(stdout);
        const pid_t writer = fork();
        if (writer == 0) {
            dir.write("near.exe", shared_name_program(entries, length));
            // What it imports, so that deps succeeds unless it refuses.
            dir.write("alpha.dll", pe_image(PeKind::pe32, {}, {std::string(length, 'x')}));
            _exit(0);
        }
        int status = 0;
        waitpid(writer, &status, 0);
    };
    struct Near {
        const char* what;
        std::vector<std::string> arguments;
        std::uint32_t length;
    };
    std::vector<Near> nears;
    // Names kept in the string object itself, just past it (a heap block
    // of its own, whose rounding and header a budget may miss) and long.
    static const std::string lengths[] = {"8", "16", "24", "40", "2000"};
    for (const auto& length : lengths) {
        static std::vector<std::string> labels;
        labels.reserve(2 * std::size(lengths));
        labels.push_back("largest accepted, " + length + "-byte shared name: deps");
        nears.push_back({labels.back().c_str(),
                         {"deps", "--system", sys, near},
                         static_cast<std::uint32_t>(std::stoul(length))});
        labels.push_back("largest accepted, " + length + "-byte shared name: inspect");
        nears.push_back({labels.back().c_str(),
                         {"inspect", "--imports", near},
                         static_cast<std::uint32_t>(std::stoul(length))});
    }
    for (const auto& c : nears) {
        std::vector<std::string> command;
        if (argc > 2) command.push_back(argv[2]);
        command.push_back(argv[1]);
        command.insert(command.end(), c.arguments.begin(), c.arguments.end());
        std::uint32_t low = 1, high = 4'000'000;
        while (high - low > low / 200 + 1) {
            const std::uint32_t middle = low + (high - low) / 2;
            make(middle, c.length);
            (run(command).status == 0 ? low : high) = middle;
        }
        make(low, c.length);
        const Peak peak = run(command);
        const std::uintmax_t size = fs::file_size(near);
        const long ceiling = static_cast<long>((16 * size + (64u << 20)) / 1024);
        std::printf("%-52s %10ld %6d %12ld %14ld  (%u entries, peak %.2f x ceiling)\n", c.what,
                    static_cast<long>(size / 1024), peak.status, peak.kilobytes, ceiling, low,
                    static_cast<double>(peak.kilobytes) / static_cast<double>(ceiling));
        std::printf("result deps_memory \"%s\" %ld %ld\n", c.what, peak.kilobytes, ceiling);
    }
    return 0;
}
