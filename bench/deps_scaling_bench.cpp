// How the dependency walk grows with the shape of a graph, over modules made
// in memory (no files read): many modules that all import one more, and one
// module whose exports forward to many. Each shape is timed beside the same
// graph without the shared part; the ratio is what the shape adds.
//
//   deps_scaling_bench [MODULES]   (40,000 by default)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "deps/dependency_graph.h"

namespace {

namespace fs = std::filesystem;
using korvex::host::ModuleFile;

// Every module in one folder, the program first.
class MemoryFolder : public korvex::host::ModuleSource {
public:
    explicit MemoryFolder(std::string folder) : folder_(std::move(folder)) {}

    ModuleFile& add(const std::string& name) {
        ModuleFile& file = files_[folder_ + "/" + name];
        file.machine = 0x14C;
        file.size = 4096;  // the smallest DLLs' size, for the walk's budget
        file.path = folder_ + "/" + name;
        names_.push_back(name);
        return file;
    }
    std::unique_ptr<ModuleFile> read(const std::string& path) override {
        const auto found = files_.find(path);
        auto file =
            std::make_unique<ModuleFile>(found == files_.end() ? ModuleFile{} : found->second);
        if (found == files_.end()) file->problem = "does not exist";
        return file;
    }
    bool exists(const std::string& path) override { return files_.contains(path); }
    korvex::host::FileNames list_folder(const std::string& folder) override {
        return {folder == folder_ ? names_ : std::vector<std::string>{}};
    }
    std::unique_ptr<korvex::host::ApiSets> read_api_sets(const std::string&) override {
        return std::make_unique<korvex::host::ApiSets>();
    }
    std::optional<std::string> read_manifest(const std::string&) override { return std::nullopt; }

private:
    std::string folder_;
    std::map<std::string, ModuleFile> files_;
    std::vector<std::string> names_;
};

void export_code(ModuleFile& file, const std::string& name) {
    file.export_slots.emplace(name, static_cast<std::uint32_t>(file.code_slots.size()));
    file.code_slots.push_back(true);
}

// The program imports `count` modules m0.dll ...; with `shared`, each of
// them imports shared.dll's f too.
void many_importers(MemoryFolder& folder, int count, bool shared) {
    ModuleFile& program = folder.add("app.exe");
    program.size = 64 * static_cast<std::uint64_t>(count);  // a descriptor, a name, a table
    for (int i = 0; i < count; ++i) {
        const std::string name = "m" + std::to_string(i) + ".dll";
        program.imports.push_back({name, {{"f", std::nullopt}}, false});
        ModuleFile& module = folder.add(name);
        export_code(module, "f");
        if (shared) module.imports.push_back({"shared.dll", {{"f", std::nullopt}}, false});
    }
    export_code(folder.add("shared.dll"), "f");
}

// The program imports `count` functions of hub.dll; with `forwarded`, hub
// forwards each to its own module, which the walk then finds, else each is
// code of hub's and the program imports those modules itself.
void forwarder_fan_out(MemoryFolder& folder, int count, bool forwarded) {
    ModuleFile& program = folder.add("app.exe");
    program.size = 64 * static_cast<std::uint64_t>(count);
    ModuleFile& hub = folder.add("hub.dll");
    hub.size = 64 * static_cast<std::uint64_t>(count);
    program.imports.push_back({"hub.dll", {}, false});
    for (int i = 0; i < count; ++i) {
        const std::string function = "f" + std::to_string(i);
        const std::string target = "t" + std::to_string(i);
        program.imports[0].functions.push_back({function, std::nullopt});
        export_code(folder.add(target + ".dll"), function);
        if (forwarded) {
            hub.export_slots.emplace(function, static_cast<std::uint32_t>(hub.code_slots.size()));
            hub.forwarders.emplace(static_cast<std::uint32_t>(hub.code_slots.size()),
                                   target + "." + function);
            hub.code_slots.push_back(false);
        } else {
            export_code(hub, function);
            program.imports.push_back({target + ".dll", {{function, std::nullopt}}, false});
        }
    }
}

// Seconds for one walk of the shape, the best of three.
double walk_seconds(void (*shape)(MemoryFolder&, int, bool), int count, bool with) {
    const std::string folder = fs::absolute("deps-bench").lexically_normal().string();
    double best = 1e9;
    for (int round = 0; round < 3; ++round) {
        MemoryFolder files(folder);
        shape(files, count, with);
        korvex::host::DependencyResolver resolver(files, {{}, folder + "/nosys", {}, false});
        const auto start = std::chrono::steady_clock::now();
        const auto graph = resolver.resolve(folder + "/app.exe");
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (graph.nodes.size() < static_cast<std::size_t>(count)) {
            std::fprintf(stderr, "the walk found %zu modules of %d: %s\n", graph.nodes.size(),
                         count, graph.problem.c_str());
            std::exit(1);
        }
        best = std::min(best, seconds);
    }
    return best;
}

// Seconds to answer `count` imports by ordinal from one DLL of `count`
// names: inspect names each (name_of), deps looks each up (find_export).
std::pair<double, double> ordinal_seconds(int count) {
    ModuleFile dll;
    for (int i = 0; i < count; ++i) export_code(dll, "f" + std::to_string(i));
    const auto time = [&](auto ask) {
        const auto start = std::chrono::steady_clock::now();
        std::size_t answered = 0;
        for (int i = 0; i < count; ++i) answered += ask(static_cast<std::uint16_t>(i));
        if (answered != static_cast<std::size_t>(count)) std::exit(1);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    const double named = time([&](std::uint16_t ordinal) { return !dll.name_of(ordinal).empty(); });
    const double looked_up = time([&](std::uint16_t ordinal) {
        return dll.find_export(ordinal).kind == korvex::host::ExportLookup::Kind::code;
    });
    return {named, looked_up};
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 40000;
    struct Row {
        const char* shape;
        void (*make)(MemoryFolder&, int, bool);
    };
    const Row rows[] = {{"many importers of one DLL", many_importers},
                        {"forwarder fan-out", forwarder_fan_out}};
    std::printf("%-28s %8s %12s %12s %7s\n", "shape", "modules", "without (s)", "with (s)",
                "ratio");
    for (const auto& row : rows) {
        const double without = walk_seconds(row.make, count, false);
        const double with = walk_seconds(row.make, count, true);
        std::printf("%-28s %8d %12.3f %12.3f %7.2f\n", row.shape, count, without, with,
                    with / without);
        std::printf("result deps_scaling \"%s\" %.2f\n", row.shape, with / without);
    }
    // Ordinals are 16-bit: at most 65,536 of them.
    const int ordinals = std::min(count, 65535);
    const auto [named, looked_up] = ordinal_seconds(ordinals);
    std::printf("%-28s %8d %12.3f %12.3f %7.2f\n", "ordinal imports named", ordinals, looked_up,
                named, named / looked_up);
    std::printf("result deps_scaling \"ordinal imports named\" %.2f\n", named / looked_up);
    return 0;
}
