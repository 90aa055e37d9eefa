// Writes the seed images of image_fuzz, made with the test PE builder, into
// the folder named on the command line (tests/fuzz/corpus/image_fuzz). Run it
// again after changing the builder or the seeds; the output is committed.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bytes.h"
#include "pe_builder.h"

namespace {

using namespace korvex::test;

void write(const std::string& folder, const std::string& name, const Bytes& bytes) {
    std::ofstream out(folder + "/" + name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes imports_last(PeKind kind, const std::vector<ImportSpec>& modules,
                   const ImportLayout& layout) {
    const auto data = import_data(kind, 0x1000, modules, layout);
    PeBuilder b(kind);
    b.section({.virtual_address = 0x1000, .data = data.bytes});
    b.directory(1, 0x1000 + data.directory_at);
    return b.build();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: image_fuzz_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::vector<ImportSpec> modules = {
        {"KERNEL32.dll", {by_ordinal(23), by_name("MapViewOfFile"), by_name("CreateFileA")}},
        {"USER32.dll", {by_name("MessageBoxA")}},
        {"NOINT.dll", {by_name("Bound")}, false},
        {"KERNEL32.dll", {by_ordinal(65535)}},
    };
    const std::vector<std::string> exports = {"MapFile", "UnmapFile", "", "GetImportModuleNamesPE"};
    for (const PeKind kind : {PeKind::pe32, PeKind::pe32_plus}) {
        const std::string tag = kind == PeKind::pe32 ? "pe32" : "pe32plus";
        write(folder, tag + "-imports-exports", pe_image(kind, modules, exports));
        write(folder, tag + "-exports-only", pe_image(kind, {}, {"A", "B"}));

        ImportLayout no_terminators;
        no_terminators.order = {ImportPart::module_names, ImportPart::hint_names,
                                ImportPart::tables, ImportPart::descriptors};
        no_terminators.descriptor_terminator = false;
        no_terminators.table_terminators = false;
        write(folder, tag + "-descriptors-last", imports_last(kind, modules, no_terminators));

        ImportLayout names_last;
        names_last.order = {ImportPart::descriptors, ImportPart::tables, ImportPart::module_names,
                            ImportPart::hint_names};
        write(folder, tag + "-names-last", imports_last(kind, modules, names_last));
    }
    // The section table after a longer optional header, and many sections.
    PeBuilder wide(PeKind::pe32_plus);
    wide.optional_header_size(0x100);
    for (std::uint32_t i = 0; i < 8; ++i)
        wide.section({.virtual_address = 0x1000 * (i + 1),
                      .data = Bytes(0x20, static_cast<std::uint8_t>(i))});
    auto data = import_data(PeKind::pe32_plus, 0x9000, modules);
    wide.section({.virtual_address = 0x9000, .data = data.bytes});
    wide.directory(1, 0x9000);
    write(folder, "pe32plus-nine-sections", wide.build());

    // What the host's readers reach beyond the name lists: forwarders,
    // delay imports (new and old descriptors) and an API-set schema.
    write(folder, "pe32-forwarders",
          pe_image(PeKind::pe32, modules, exports, {"", "NTDLL.Rtl", "", "X.#7"}));
    for (const bool addresses : {false, true}) {
        PeBuilder delayed(PeKind::pe32);
        const auto delay_data =
            delay_import_data(PeKind::pe32, 0x1000, modules,
                              addresses ? std::optional<std::uint64_t>(0x400000) : std::nullopt);
        delayed.section({.virtual_address = 0x1000, .data = delay_data.bytes})
            .directory(13, 0x1000 + delay_data.directory_at);
        Bytes image = delayed.build();
        if (addresses) put32(image, delayed.optional_header_offset() + 28, 0x400000);  // ImageBase
        write(folder, addresses ? "pe32-delay-imports-old" : "pe32-delay-imports", image);
    }
    PeBuilder schema(PeKind::pe32);
    schema.section({.virtual_address = 0x1000,
                    .data = api_set_section(
                        {{"api-ms-win-core-file-l1-2-0", {"kernelbase.dll", "kernel32.dll"}},
                         {"ext-ms-win-none-l1-1-0", {}}}),
                    .name = ".apiset"});
    write(folder, "pe32-api-set-schema", schema.build());
    return 0;
}
