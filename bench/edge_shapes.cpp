#include "edge_shapes.h"

#include <cstdint>
#include <fstream>

#include "fixed_text.h"
#include "pe_builder.h"

namespace korvex::bench {

namespace {

using test::Bytes;
using test::ImportSpec;
using test::PeBuilder;
using test::PeKind;

constexpr std::uint32_t import_rva = 0x1000;
constexpr std::uint32_t far_rva = 0x40000000;

Bytes with_imports(PeKind kind, const std::vector<ImportSpec>& modules) {
    auto data = test::import_data(kind, import_rva, modules);
    PeBuilder builder(kind);
    builder.directory(1, import_rva + data.directory_at);
    builder.section({.virtual_address = import_rva, .data = std::move(data.bytes)});
    return builder.build();
}

// Many modules of different names: more than the module index holds.
Bytes distinct_modules(PeKind kind, int count) {
    std::vector<ImportSpec> modules;
    for (int i = 0; i < count; ++i)
        modules.push_back({"M" + std::to_string(i) + ".DLL", {test::by_name("F")}});
    return with_imports(kind, modules);
}

// Many descriptors of one name, each asked for by the host.
Bytes one_name_modules(PeKind kind, int count) {
    std::vector<ImportSpec> modules(static_cast<std::size_t>(count),
                                    ImportSpec{"SAME.DLL", {test::by_ordinal(1)}});
    return with_imports(kind, modules);
}

// Module names that all fall on the same slot of a table of 8,192.
Bytes colliding_modules(PeKind kind, int count) {
    std::vector<ImportSpec> modules;
    for (std::uint32_t i = 0; static_cast<int>(modules.size()) < count; ++i) {
        const std::string name = "C" + std::to_string(i);
        if ((fnv1a_hash(name.data(), name.size()) & 8191) == 0)
            modules.push_back({name, {test::by_ordinal(1)}});
    }
    return with_imports(kind, modules);
}

// A few modules with long lookup tables.
Bytes long_tables(PeKind kind, int modules, int functions) {
    std::vector<ImportSpec> imported;
    for (int m = 0; m < modules; ++m) {
        ImportSpec module{"T" + std::to_string(m) + ".DLL", {}};
        for (int f = 0; f < functions; ++f)
            module.functions.push_back(f % 2 ? test::by_ordinal(static_cast<std::uint16_t>(f))
                                             : test::by_name("Fn" + std::to_string(f)));
        imported.push_back(std::move(module));
    }
    return with_imports(kind, imported);
}

// The import and export directories behind tens of thousands of sections
// that hold neither, and a hundred modules asked for one by one.
Bytes many_sections(PeKind kind, int sections) {
    std::vector<ImportSpec> modules;
    for (int i = 0; i < 100; ++i)
        modules.push_back({"S" + std::to_string(i) + ".DLL", {test::by_name("F")}});
    auto imports = test::import_data(kind, far_rva, modules);
    auto exports = test::export_data(far_rva + 0x100000, {"One", "Two", "Three"});
    PeBuilder builder(kind);
    for (int i = 0; i < sections; ++i)
        builder.section({.virtual_address = 0x1000 + 0x1000 * static_cast<std::uint32_t>(i),
                         .data = {},
                         .raw_offset = 0x200,
                         .raw_size = 0x10});
    builder.directory(1, far_rva + imports.directory_at);
    builder.section({.virtual_address = far_rva, .data = std::move(imports.bytes)});
    builder.directory(0, far_rva + 0x100000);
    builder.section({.virtual_address = far_rva + 0x100000, .data = std::move(exports.bytes)});
    return builder.build();
}

Bytes many_exports(int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back("Export" + std::to_string(i));
    return test::pe_image(PeKind::pe32, {}, names);
}

// One module name of several MiB, and a function name as long.
Bytes long_names(PeKind kind, std::size_t length) {
    return with_imports(kind,
                        {{std::string(length, 'N'), {test::by_name(std::string(length, 'F'))}}});
}

}  // namespace

std::vector<std::string> write_edge_shapes(const std::string& folder) {
    const std::vector<std::pair<std::string, Bytes>> shapes = {
        {"distinct-modules-60000.dll", distinct_modules(PeKind::pe32, 60000)},
        {"distinct-modules-60000-plus.dll", distinct_modules(PeKind::pe32_plus, 60000)},
        {"one-name-modules-60000.dll", one_name_modules(PeKind::pe32, 60000)},
        {"colliding-modules-6000.dll", colliding_modules(PeKind::pe32, 6000)},
        {"long-tables-10x40000.dll", long_tables(PeKind::pe32, 10, 40000)},
        {"long-tables-10x40000-plus.dll", long_tables(PeKind::pe32_plus, 10, 40000)},
        {"many-sections-60000.dll", many_sections(PeKind::pe32, 60000)},
        {"many-exports-500000.dll", many_exports(500000)},
        {"long-names-4mib.dll", long_names(PeKind::pe32, std::size_t{4} << 20)},
    };
    std::vector<std::string> paths;
    for (const auto& [name, bytes] : shapes) {
        paths.push_back(folder + "/" + name);
        std::ofstream out(paths.back(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    return paths;
}

}  // namespace korvex::bench
