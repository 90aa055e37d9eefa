// Micro-benchmarks of the inspection side: the directory lookup and the list
// walks, on real images of Wine's corpus (read into memory) and on images
// built here to make one dimension large.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "corpus.h"
#include "image/directory_lookup.h"
#include "image/name_lists.h"
#include "korvex32.h"
#include "pe_builder.h"
#include "unindexed_imports.h"

namespace {

namespace image = korvex::image;
using korvex::test::Bytes;

const Bytes& corpus_file(const char* name) {
    static std::vector<std::pair<std::string, Bytes>> loaded;
    for (const auto& [loaded_name, bytes] : loaded)
        if (loaded_name == name) return bytes;
    std::ifstream in(std::string(korvex::bench::default_corpus_folder) + "/" + name,
                     std::ios::binary);
    loaded.emplace_back(name, Bytes(std::istreambuf_iterator<char>(in), {}));
    return loaded.back().second;
}

// Wine's kernelbase.dll: 1,700 exported names and a dozen sections.
constexpr const char* many_exports = "kernelbase.dll";
// Wine's shell32.dll: some twenty imported modules.
constexpr const char* many_imports = "shell32.dll";

void BM_FindDirectory(benchmark::State& state) {
    const Bytes& bytes = corpus_file(many_exports);
    if (bytes.empty()) return state.SkipWithError("corpus file missing");
    const image::ByteView file(bytes.data(), bytes.size());
    const auto index = static_cast<std::uint32_t>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(image::find_directory(file, index));
    state.SetLabel(index == image::export_directory ? "export directory" : "import directory");
}
BENCHMARK(BM_FindDirectory)->Arg(0)->Arg(1);

// The section table is walked from its start on every lookup: the cost grows
// with the sections before the one that holds the directory.
void BM_FindDirectoryInLastSection(benchmark::State& state) {
    korvex::test::PeBuilder builder;
    const auto sections = static_cast<std::uint32_t>(state.range(0));
    for (std::uint32_t i = 0; i < sections; ++i)
        builder.section({.virtual_address = 0x1000 * (i + 1), .data = Bytes(16, 0)});
    builder.directory(image::import_directory, 0x1000 * sections);
    const Bytes bytes = builder.build();
    const image::ByteView file(bytes.data(), bytes.size());
    for (auto _ : state)
        benchmark::DoNotOptimize(image::find_directory(file, image::import_directory));
    state.counters["sections"] = static_cast<double>(sections);
}
BENCHMARK(BM_FindDirectoryInLastSection)->Arg(1)->Arg(4)->Arg(16);

// Size query and fill, as a host calls them for a file it has just mapped.
template <typename List>
void query_and_fill(benchmark::State& state, const Bytes& bytes, List list) {
    if (bytes.empty()) return state.SkipWithError("corpus file missing");
    const image::ByteView file(bytes.data(), bytes.size());
    static image::ListState lists;
    std::vector<char> buffer(static_cast<std::size_t>(std::max(list(file, lists, nullptr), 1)));
    std::int64_t listed = 0;
    for (auto _ : state) {
        image::forget_image(lists);
        const std::int32_t size = list(file, lists, nullptr);
        listed += list(file, lists, buffer.data());
        benchmark::DoNotOptimize(size);
    }
    image::forget_image(lists);
    state.SetBytesProcessed(listed);
}

void BM_ExportList(benchmark::State& state) {
    query_and_fill(state, corpus_file(many_exports), image::list_exported_names);
}
BENCHMARK(BM_ExportList);

void BM_ModuleList(benchmark::State& state) {
    query_and_fill(state, corpus_file(many_imports), image::list_imported_modules);
}
BENCHMARK(BM_ModuleList);

// Every module's function list of a file with `modules` imported modules,
// asked in the order the module list gives them, as a viewer does.
struct ManyModules {
    Bytes bytes;
    std::vector<std::string> names;
};

ManyModules many_modules(std::int64_t count) {
    ManyModules made;
    std::vector<korvex::test::ImportSpec> specs;
    for (std::int64_t i = 0; i < count; ++i) {
        made.names.push_back("MODULE" + std::to_string(i) + ".DLL");
        specs.push_back({made.names.back(),
                         {korvex::test::by_name("Function" + std::to_string(i)),
                          korvex::test::by_ordinal(static_cast<std::uint16_t>(i))}});
    }
    made.bytes = korvex::test::pe_image(korvex::test::PeKind::pe32, specs);
    return made;
}

template <typename List>
std::int64_t every_function_list(const std::vector<std::string>& names, List list) {
    std::int64_t listed = 0;
    char request[64];
    for (const std::string& name : names) {
        request[0] = '0';
        std::memcpy(request + 1, name.c_str(), name.size() + 1);
        if (list(request) <= 0) continue;
        request[0] = '1';
        listed += list(request);
    }
    return listed;
}

// Through the export, which finds modules with the held image's index.
void BM_FunctionListsHeld(benchmark::State& state) {
    const ManyModules made = many_modules(state.range(0));
    const auto path = std::filesystem::temp_directory_path() / "korvex-micro-modules.dll";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(made.bytes.data()),
                  static_cast<std::streamsize>(made.bytes.size()));
    }
    if (MapFile(path.string().c_str()) != KORVEX_IMAGE_PE) return state.SkipWithError("not mapped");
    for (auto _ : state) {
        // A fresh mapping each time, as for every file a viewer opens.
        MapFile(path.string().c_str());
        benchmark::DoNotOptimize(every_function_list(made.names, GetImportFuncNamesByModulePE));
    }
    UnmapFile(0);
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetLabel("modules/s");
}
BENCHMARK(BM_FunctionListsHeld)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(5000)
    ->Unit(benchmark::kMicrosecond);

// The walk from the first descriptor for every lookup, for comparison: its
// time per module grows with the number of modules.
void BM_FunctionListsWalkedFromFirst(benchmark::State& state) {
    const ManyModules made = many_modules(state.range(0));
    const image::ByteView file(made.bytes.data(), made.bytes.size());
    for (auto _ : state)
        benchmark::DoNotOptimize(every_function_list(made.names, [&](char* request) {
            return korvex::test::list_functions_walked(file, request);
        }));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetLabel("modules/s");
}
BENCHMARK(BM_FunctionListsWalkedFromFirst)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(5000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
