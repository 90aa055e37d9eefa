#include "deps_program.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "bytes.h"

namespace korvex::fuzz {

namespace {

using test::Bytes;
using test::ImportSpec;
using test::PeKind;

// Bounds that keep one input's installation, not the resolver, within the
// fuzzer's memory and time limits while still reaching thousands of modules.
constexpr std::size_t max_modules = 6000;
constexpr std::size_t max_functions = 60000;
constexpr std::size_t max_run = 4096;  // modules one chain or fan adds
constexpr std::size_t max_image_exports = 256;
constexpr std::size_t max_roots = 4;
// Few set names, so that imports and schema entries meet often.
constexpr std::size_t api_set_names = 4;

// Names the resolver treats specially (KnownDLLs, what Windows ships or
// does not, the schema's own file) and names no folder search may try.
constexpr const char* odd_names[] = {"kernel32.dll",
                                     "OLE32.dll",
                                     "zlib1.dll",
                                     "vcruntime140.dll",
                                     "apisetschema.dll",
                                     "",
                                     ".",
                                     "..",
                                     "sub/m1.dll",
                                     "c:m1.dll",
                                     "m1.dll.",
                                     "m1.",
                                     "api-",
                                     "ext-",
                                     "API-MS-WIN-S1-L1-1-0.DLL",
                                     "m1.DlL"};

const char* folder_of(std::size_t choice) {
    switch (choice % 5) {
        case 0:
            return app_folder;
        case 1:
            return system_folder;
        case 2:
            return search_folders[0];
        case 3:
            return search_folders[1];
        default:
            return path_folder;
    }
}

// Module k's name as an importer may spell it; the file itself is "mK.dll"
// in the case its index chooses.
std::string module_name(std::size_t k, std::size_t spelling) {
    const std::string base = "m" + std::to_string(k);
    switch (spelling % 4) {
        case 0:
            return base + ".dll";
        case 1:
            return "M" + std::to_string(k) + ".DLL";
        case 2:
            return base;
        default:
            return base + ".Dll";
    }
}

std::string file_name(std::size_t k) { return module_name(k, k % 3 == 2 ? 0 : k % 3); }

class Decoder {
public:
    explicit Decoder(FuzzInput& input) : in_(input) {}

    Program run() {
        const std::uint8_t header = in_.byte();
        program_.system_exists = (header & 7) != 0;
        const std::size_t more_roots = (header >> 3) & 3;
        while (!in_.empty() && program_.modules.size() < max_modules &&
               program_.functions < max_functions) {
            switch (in_.pick(10)) {
                case 0:
                case 1:
                case 2:
                    add_module();
                    break;
                case 3:
                    chain();
                    break;
                case 4:
                    fan();
                    break;
                case 5:
                case 6:
                    api_set();
                    break;
                case 7:
                    damage();
                    break;
                case 8:
                    web();
                    break;
                default:
                    root();
                    break;
            }
        }
        if (program_.modules.empty()) new_module(app_folder);
        if (program_.roots.empty()) program_.roots.push_back(path_of(program_.modules.front()));
        // Programs spread over the installation, walked after the others.
        for (std::size_t i = 1; i <= more_roots && program_.roots.size() < max_roots; ++i)
            program_.roots.push_back(
                path_of(program_.modules[i * program_.modules.size() / (more_roots + 1)]));
        return std::move(program_);
    }

private:
    static std::string path_of(const ModuleDraft& module) {
        return module.folder + "/" + module.file_name;
    }

    ModuleDraft& new_module(const char* folder) {
        ModuleDraft& module = program_.modules.emplace_back();
        module.folder = folder;
        module.file_name = file_name(program_.modules.size() - 1);
        return module;
    }

    std::size_t some_module(std::size_t past_end) {
        return (in_.u16() % (program_.modules.size() + past_end));
    }

    // Mostly short, so that most inputs run fast; now and then thousands.
    std::size_t run_length() {
        switch (in_.pick(8)) {
            case 0:
                return in_.u16() % max_run;
            case 1:
                return in_.byte();
            default:
                return in_.pick(16);
        }
    }

    // A module name: one made or yet to be, an API set, or an odd one.
    std::string module_ref() {
        const std::size_t kind = in_.pick(16);
        if (kind < 11) return module_name(some_module(4), in_.byte());
        if (kind < 13)
            return "api-ms-win-s" + std::to_string(in_.pick(api_set_names)) + "-l1-1-" +
                   std::to_string(in_.pick(3));
        if (kind < 14) return "ext-ms-win-s" + std::to_string(in_.pick(api_set_names)) + "-l1-1-0";
        if (kind < 15) return std::string(300, 'x') + ".dll";
        return odd_names[in_.pick(std::size(odd_names))];
    }

    host::ImportedFunction function_ref() {
        if (in_.pick(4) == 0) return {{}, static_cast<std::uint16_t>(in_.pick(24))};
        return {"f" + std::to_string(in_.pick(24)), std::nullopt};
    }

    std::string forwarder() {
        std::string module = module_ref();
        if (module.size() > 4 && in_.pick(2) == 0) module.resize(module.size() - 4);
        switch (in_.pick(10)) {
            case 0:
                return module + ".#" + std::to_string(in_.pick(24));
            case 1:
                return "nodot";
            case 2:
                return module + ".#" + std::to_string(in_.u32());
            case 3:
                return module + ".#x";
            case 4:
                return "." + std::to_string(in_.byte());
            default:
                return module + ".f" + std::to_string(in_.pick(24));
        }
    }

    void add_import(ModuleDraft& module, std::string name, bool delay, std::size_t functions) {
        ImportDraft import{std::move(name), delay, {}};
        for (std::size_t i = 0; i < functions; ++i) import.functions.push_back(function_ref());
        program_.functions += functions;
        module.imports.push_back(std::move(import));
    }

    // An import of "f0", "f1", ... up to `count` functions: every module of
    // a run exports the first two and none the rest, which are then missing.
    void run_import(ModuleDraft& module, std::string name, bool delay, std::size_t count) {
        ImportDraft import{std::move(name), delay, {}};
        for (std::size_t i = 0; i < count; ++i)
            import.functions.push_back({"f" + std::to_string(i), std::nullopt});
        program_.functions += count;
        module.imports.push_back(std::move(import));
    }

    void add_module() {
        const std::uint8_t shape = in_.byte();
        ModuleDraft& module = new_module(folder_of(in_.byte()));
        if (shape & 1) module.file_name = odd_names[in_.pick(5)];
        module.wide = (shape & 6) == 6;
        module.image = (shape & 8) != 0;
        module.ordinal_base = static_cast<std::uint16_t>(in_.pick(4) == 0 ? in_.u16() : 1);
        const std::size_t imports = in_.pick(8);
        for (std::size_t i = 0; i < imports; ++i)
            add_import(module, module_ref(), in_.pick(4) == 0, in_.pick(6));
        const std::size_t exports = in_.pick(24);
        for (std::size_t i = 0; i < exports; ++i) {
            const std::size_t kind = in_.pick(8);
            module.exports.push_back({kind == 0 ? std::string() : "f" + std::to_string(i),
                                      kind >= 5 ? forwarder() : std::string()});
        }
    }

    // A run of modules each importing the next, optionally forwarding its
    // first export to the next one's and closing the run into a loop.
    void chain() {
        const std::uint8_t shape = in_.byte();
        const char* folder = folder_of(in_.byte());
        const std::size_t start = program_.modules.size();
        const std::size_t length =
            std::min(1 + run_length(), max_modules - program_.modules.size());
        for (std::size_t i = 0; i < length; ++i) {
            ModuleDraft& module = new_module(folder);
            module.image = (shape & 16) != 0 && i < 8;
            const bool last = i + 1 == length;
            const std::size_t next = last ? start : start + i + 1;
            const std::string next_name = module_name(next, i);
            if (!last || (shape & 4))
                run_import(module, next_name, (shape & 1) != 0, 1 + (shape >> 6));
            module.exports.push_back(
                {"f0", (shape & 2) != 0 && (!last || (shape & 4)) ? next_name + ".f0" : ""});
            module.exports.push_back({"f1", (shape & 8) ? module_name(next, 2) + ".#1" : ""});
        }
        link_in(start, shape & 32);
    }

    // One module importing many new ones, each of which may forward its
    // export to a module of the rest of the program.
    void fan() {
        const std::uint8_t shape = in_.byte();
        const std::size_t hub_index = program_.modules.size();
        new_module(folder_of(in_.byte())).image = (shape & 16) != 0;
        const std::size_t width = std::min(run_length(), max_modules - program_.modules.size());
        const std::string target = (shape & 2) ? module_ref() : std::string();
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t leaf = program_.modules.size();
            ModuleDraft& module = new_module(folder_of(shape & 4 ? i : 0));
            module.exports.push_back({"f0", target.empty() ? "" : target + ".f0"});
            if (shape & 8) run_import(module, module_name(hub_index, i), true, 1);
            run_import(program_.modules[hub_index], module_name(leaf, i), (shape & 1) != 0,
                       (shape & 32) ? 2 : 1);
        }
        link_in(hub_index, shape & 64);
    }

    // Makes an earlier module import `first`, so that the run is reached.
    void link_in(std::size_t first, bool delay) {
        if (first == 0) return;
        run_import(program_.modules[in_.u16() % first], module_name(first, in_.byte()), delay, 1);
    }

    void api_set() {
        test::ApiSetSpec set;
        set.name = "api-ms-win-s" + std::to_string(in_.pick(api_set_names)) + "-l1-1-0";
        if (in_.pick(4) == 0) set.name = "ext" + set.name.substr(3);
        const std::size_t hosts = in_.pick(4);
        for (std::size_t i = 0; i < hosts; ++i) {
            set.hosts.push_back(module_ref());
            set.importers.push_back(i == 0 ? std::string() : module_ref());
        }
        program_.api_sets.push_back(std::move(set));
    }

    void damage() {
        Damage* target = &program_.schema_damage;
        if (!program_.modules.empty() && in_.pick(4) != 0) {
            ModuleDraft& module = program_.modules[some_module(0)];
            module.image = true;
            target = &module.damage;
        }
        const std::size_t count = in_.pick(8);
        for (std::size_t i = 0; i < count; ++i) target->changes.emplace_back(in_.u16(), in_.byte());
        if (in_.pick(4) == 0) target->cut = in_.u16();
    }

    // Imports between modules already made: loops, diamonds, self-imports.
    void web() {
        if (program_.modules.empty()) return;
        const std::size_t count = 1 + in_.pick(64);
        for (std::size_t i = 0; i < count; ++i)
            add_import(program_.modules[some_module(0)], module_ref(), in_.pick(4) == 0,
                       in_.pick(4));
    }

    void root() {
        if (program_.modules.empty() || program_.roots.size() == max_roots) return;
        const ModuleDraft& module = program_.modules[some_module(0)];
        std::string name = module.file_name;
        // The program's own name matches in any case, and one that is not
        // there is a problem of the graph.
        if (in_.pick(4) == 0)
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (in_.pick(8) == 0) name += ".gone";
        program_.roots.push_back(module.folder + "/" + name);
    }

    FuzzInput& in_;
    Program program_;
};

void apply(Bytes& bytes, const Damage& damage) {
    if (bytes.size() <= 2) return;
    for (const auto& [at, value] : damage.changes) bytes[2 + at % (bytes.size() - 2)] = value;
    if (damage.cut != 0) bytes.resize(2 + damage.cut % (bytes.size() - 1));
}

std::uint32_t next_section(std::uint32_t rva, std::size_t size) {
    return (rva + static_cast<std::uint32_t>(size) + 0x1FFF) & ~0xFFFu;
}

std::vector<ImportSpec> import_specs(const ModuleDraft& module, bool delay) {
    std::vector<ImportSpec> specs;
    for (const auto& import : module.imports) {
        if (import.delay != delay) continue;
        ImportSpec& made = specs.emplace_back();
        // A NUL would end the name early; the readers see what the loader sees.
        made.module = import.module;
        for (const auto& function : import.functions)
            made.functions.push_back(function.ordinal ? test::by_ordinal(*function.ordinal)
                                                      : test::by_name(function.name));
    }
    return specs;
}

}  // namespace

Program decode_program(FuzzInput& input) { return Decoder(input).run(); }

Bytes module_image(const ModuleDraft& module) {
    const PeKind kind = module.wide ? PeKind::pe32_plus : PeKind::pe32;
    test::PeBuilder builder(kind);
    // The export section stands above the code addresses the export data
    // gives its slots (0x1000 + slot), so those stay outside the directory.
    std::uint32_t rva = 0x10000;
    const std::size_t export_count = std::min(module.exports.size(), max_image_exports);
    if (export_count != 0) {
        // Named slots first: the export data names every slot, and the count
        // of names written is cut to leave the rest reachable by ordinal only.
        std::vector<std::string> names, forwarders;
        for (int named = 1; named >= 0; --named)
            for (std::size_t i = 0; i < export_count; ++i) {
                const ExportDraft& draft = module.exports[i];
                if (draft.name.empty() == (named == 1)) continue;
                names.push_back(draft.name.empty() ? "unnamed" : draft.name);
                forwarders.push_back(draft.forwarder);
            }
        const auto named = static_cast<std::uint32_t>(std::count_if(
            module.exports.begin(), module.exports.begin() + static_cast<long>(export_count),
            [](const ExportDraft& draft) { return !draft.name.empty(); }));
        auto data = test::export_data(rva, names, forwarders);
        test::put32(data.bytes, test::export_number_of_names_at, named);
        test::put32(data.bytes, 16, module.ordinal_base);
        builder.directory(0, rva, static_cast<std::uint32_t>(data.bytes.size()));
        const std::size_t size = data.bytes.size();
        builder.section({.virtual_address = rva, .data = std::move(data.bytes)});
        rva = next_section(rva, size);
    }
    if (const auto specs = import_specs(module, false); !specs.empty()) {
        auto data = test::import_data(kind, rva, specs);
        builder.directory(1, rva + data.directory_at,
                          static_cast<std::uint32_t>((specs.size() + 1) * test::descriptor_size));
        const std::size_t size = data.bytes.size();
        builder.section({.virtual_address = rva, .data = std::move(data.bytes)});
        rva = next_section(rva, size);
    }
    if (const auto specs = import_specs(module, true); !specs.empty()) {
        auto data = test::delay_import_data(kind, rva, specs);
        builder.directory(
            13, rva + data.directory_at,
            static_cast<std::uint32_t>((specs.size() + 1) * test::delay_descriptor_size));
        builder.section({.virtual_address = rva, .data = std::move(data.bytes)});
    }
    Bytes bytes = builder.build();
    apply(bytes, module.damage);
    return bytes;
}

Bytes schema_image(const Program& program) {
    test::PeBuilder builder;
    builder.section({.virtual_address = 0x1000,
                     .data = test::api_set_section(program.api_sets),
                     .name = ".apiset"});
    Bytes bytes = builder.build();
    apply(bytes, program.schema_damage);
    return bytes;
}

}  // namespace korvex::fuzz
