// The readers the command-line host uses beside the exports: machine, RVA
// conversion through any section, the whole export table, delay imports and
// the API-set schema, on images built here and bent at their edges.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "bytes.h"
#include "image_readers/api_set_schema.h"
#include "image_readers/export_table.h"
#include "image_readers/import_tables.h"
#include "image_readers/pe_image.h"
#include "pe_builder.h"

namespace {

using namespace korvex::test;
namespace img = korvex::image;

img::PeImage map_of(const ExactImage& image) {
    const auto map = img::PeImage::parse({image.data(), image.size()});
    EXPECT_TRUE(map.placed());
    return map;
}

TEST(ImageReaders, MachineOfEachKindAndOfDamagedHeaders) {
    const Bytes pe32 = pe_image(PeKind::pe32, {}, {"A"});
    const Bytes cut_after_signature(pe32.begin(), pe32.begin() + 0x45);
    const Bytes cut_in_file_header(pe32.begin(), pe32.begin() + 0x40 + 23);
    struct Case {
        const char* what;
        Bytes file;
        const char* expected;  // nullptr: no machine
    } cases[] = {{"PE32", pe32, "i386"},
                 {"PE32+", pe_image(PeKind::pe32_plus, {}, {"A"}), "x86-64"},
                 {"machine cut off", cut_after_signature, nullptr},
                 {"file header cut off", cut_in_file_header, nullptr},
                 {"MZ only", {'M', 'Z'}, nullptr}};
    for (const auto& c : cases) {
        const ExactImage image(c.file);
        const auto parsed = img::PeImage::parse({image.data(), image.size()});
        EXPECT_EQ(parsed.placed(), c.expected != nullptr) << c.what;
        if (parsed.placed() && c.expected) {
            EXPECT_STREQ(img::machine_name(parsed.layout().file_header.machine), c.expected)
                << c.what;
        }
    }
    EXPECT_STREQ(img::machine_name(0xAA64), "ARM64");
    EXPECT_EQ(img::machine_name(0x1234), nullptr);
}

TEST(ImageReaders, PeImageConvertsThroughTheHoldingSectionOnly) {
    PeBuilder b;
    Bytes first(0x20, 'a');
    first.back() = 0;
    Bytes second = {'n', 'o', '-', 'n', 'u', 'l'};  // ends the file without a NUL
    b.section({.virtual_address = 0x1000, .data = first, .virtual_size = 0x800});
    b.section({.virtual_address = 0x2000, .data = second});
    const Bytes file = b.build();
    const ExactImage image(file);
    const auto map = map_of(image);
    EXPECT_EQ(map.offset_of(0x1000), b.raw_offset(0));
    EXPECT_EQ(map.offset_of(0x101F), b.raw_offset(0) + 0x1F);
    EXPECT_FALSE(map.offset_of(0x1020));       // inside VirtualSize, not in the file
    EXPECT_FALSE(map.offset_of(0x101E, 4));    // runs past the section's data
    EXPECT_EQ(map.offset_of(0x3C, 4), 0x3Cu);  // the headers
    EXPECT_EQ(map.string_at(0x1000)->size(), 0x1Fu);
    EXPECT_FALSE(map.string_at(0x2000));
    EXPECT_FALSE(map.string_at(0xFFFFFFFF));

    Bytes long_name(img::max_name_length + 2, 'x');
    long_name.back() = 0;
    PeBuilder l;
    l.section({.virtual_address = 0x1000, .data = long_name});
    const Bytes long_file = l.build();
    const ExactImage long_image(long_file);
    EXPECT_FALSE(map_of(long_image).string_at(0x1000));
    EXPECT_TRUE(map_of(long_image).string_at(0x1001));  // exactly the longest
    EXPECT_TRUE(map_of(long_image).string_too_long(0x1000));
    EXPECT_FALSE(map_of(long_image).string_too_long(0x1001));
    EXPECT_FALSE(map.string_too_long(0x2000)) << "ends the file unterminated: not too long";
}

TEST(ImageReaders, WalksSayWhenTheyStopAtANameTooLong) {
    const std::string longest(img::max_name_length, 'n');
    for (const std::size_t extra : {0, 1}) {
        const std::string name = longest + std::string(extra, 'n');
        const Bytes imports = pe_image(PeKind::pe32, {{"alpha.dll", {by_name(name)}}});
        const ExactImage image(imports);
        const auto map = map_of(image);
        img::ImportModuleWalk modules(map, img::ImportTable::imports);
        const auto module = modules.next();
        ASSERT_TRUE(module);
        img::ImportFunctionWalk functions(map, *module);
        EXPECT_EQ(functions.next().has_value(), extra == 0);
        EXPECT_EQ(functions.name_too_long(), extra == 1);

        const Bytes exports = pe_image(PeKind::pe32, {}, {name, "f"}, {"", "x." + name});
        const ExactImage exported(exports);
        const auto export_map = map_of(exported);
        const auto table = img::read_export_table(export_map);
        ASSERT_TRUE(table);
        img::ExportNameWalk walk(export_map, *table);
        EXPECT_EQ(walk.next().has_value(), extra == 0);
        EXPECT_EQ(walk.name_too_long(), extra == 1);
        // "x." and the name: too long already at the longest name.
        EXPECT_TRUE(img::export_target(export_map, *table, 1).too_long);
        EXPECT_FALSE(img::export_target(export_map, *table, 0).too_long);
    }
}

TEST(ImageReaders, ExportTableGivesSlotsForwardersAndEndsAtDamage) {
    Bytes file = pe_image(PeKind::pe32, {}, {"Alpha", "Beta", "Gamma"}, {"", "NTDLL.RtlBeta", ""});
    {
        const ExactImage image(file);
        const auto map = map_of(image);
        const auto table = img::read_export_table(map);
        ASSERT_TRUE(table);
        EXPECT_EQ(table->module_name, "korvex-test.dll");
        img::ExportNameWalk walk(map, *table);
        std::vector<std::string> names;
        while (const auto name = walk.next()) {
            EXPECT_EQ(name->slot, names.size());
            names.emplace_back(name->name);
        }
        EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
        EXPECT_EQ(img::export_target(map, *table, 0).kind, img::ExportTarget::Kind::code);
        EXPECT_EQ(img::export_target(map, *table, 1).forwarder, "NTDLL.RtlBeta");
        EXPECT_EQ(img::export_target(map, *table, 3).kind, img::ExportTarget::Kind::none);
    }
    // Counts far beyond the file: the walk ends at the first name pointer
    // that leads nowhere (here the address table's first entry), a slot
    // past the file holds nothing.
    PeBuilder same_layout;  // one section, as pe_image lays an export-only image
    const std::uint32_t directory = same_layout.section({.virtual_address = 0x2000}).raw_offset(0);
    put32(file, directory + 20, 0xFFFFFFFF);
    put32(file, directory + export_number_of_names_at, 0xFFFFFFFF);
    const ExactImage image(file);
    const auto map = map_of(image);
    const auto table = img::read_export_table(map);
    ASSERT_TRUE(table);
    img::ExportNameWalk walk(map, *table);
    EXPECT_EQ(table->name_count, 0xFFFFFFFFu);
    std::size_t count = 0;
    while (walk.next()) ++count;
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(img::export_target(map, *table, 0x00FFFFFF).kind, img::ExportTarget::Kind::none);
}

// Every module and function a walk of one table gives, "#7" for an ordinal,
// and "!outside" when it stopped at something not in the file.
std::vector<std::string> walk_table(const img::PeImage& map, img::ImportTable table) {
    std::vector<std::string> seen;
    img::ImportModuleWalk walk(map, table);
    while (const auto module = walk.next()) {
        seen.emplace_back(module->name);
        img::ImportFunctionWalk functions(map, *module);
        while (const auto function = functions.next())
            seen.push_back(function->by_ordinal
                               ? "#" + std::to_string(function->ordinal)
                               : std::string(reinterpret_cast<const char*>(function->name),
                                             function->name_length));
        if (functions.ended_outside()) seen.emplace_back("!outside");
    }
    if (walk.ended_outside()) seen.emplace_back("!outside");
    return seen;
}

TEST(ImageReaders, ImportTablesAsTheLoaderReadsThem) {
    const std::vector<ImportSpec> modules = {{"lazy.dll", {by_name("First"), by_ordinal(7)}},
                                             {"later.dll", {by_name("Second")}}};
    const std::vector<std::string> listed = {"lazy.dll", "First", "#7", "later.dll", "Second"};
    for (const bool old : {false, true}) {
        PeBuilder b;
        const auto data =
            delay_import_data(PeKind::pe32, 0x1000, modules,
                              old ? std::optional<std::uint64_t>(0x400000) : std::nullopt);
        b.section({.virtual_address = 0x1000, .data = data.bytes})
            .directory(13, 0x1000 + data.directory_at);
        Bytes file = b.build();
        put32(file, b.optional_header_offset() + 28, 0x400000);
        const ExactImage image(file);
        EXPECT_EQ(walk_table(map_of(image), img::ImportTable::delay_imports), listed)
            << (old ? "addresses" : "RVAs");
    }
    {
        // The descriptors in one section, the names they point to in another:
        // each RVA goes through the section that holds it.
        const auto data = import_data(PeKind::pe32, 0x1000, modules);
        const auto split = data.bytes.begin() + data.directory_at + 3 * descriptor_size;
        PeBuilder b;
        b.section({.virtual_address = 0x1000, .data = Bytes(data.bytes.begin(), split)})
            .section({.virtual_address = 0x1000 + data.directory_at + 3 * descriptor_size,
                      .data = Bytes(split, data.bytes.end())})
            .directory(1, 0x1000 + data.directory_at);
        const Bytes file = b.build();
        const ExactImage image(file);
        EXPECT_EQ(walk_table(map_of(image), img::ImportTable::imports), listed);
    }
    // A descriptor cut by the end of the file ends the walk as damage.
    for (const auto table : {img::ImportTable::imports, img::ImportTable::delay_imports}) {
        PeBuilder cut;
        cut.section({.virtual_address = 0x1000, .data = Bytes(16, 1)})
            .directory(table == img::ImportTable::imports ? 1 : 13, 0x1000);
        const Bytes file = cut.build();
        const ExactImage image(file);
        EXPECT_EQ(walk_table(map_of(image), table), std::vector<std::string>{"!outside"});
    }
}

TEST(ImageReaders, TheLoaderMapsWholeSectorsUpToTheVirtualSize) {
    const struct {
        std::uint32_t pointer, raw, virtual_size, file_alignment, section_alignment;
        std::optional<img::FileSpan> span;
    } cases[] = {
        {0x400, 0x600, 0x600, 0x200, 0x1000, img::FileSpan{0x400, 0xA00, 0x801}},
        {0x400, 0x3000, 0x300, 0x200, 0x1000,
         img::FileSpan{0x400, 0x1400, 0x1201}},                                   // one page read
        {0x410, 0x100, 0x100, 0x10, 0x1000, img::FileSpan{0x400, 0x600, 0x411}},  // from its sector
        {0x1000, 0x10, 0x2000, 0x1000, 0x1000,
         img::FileSpan{0x1000, 0x2000, 0x1E01}},                               // to FileAlignment
        {0x400, 0x200, 0, 0x200, 0x1000, img::FileSpan{0x400, 0x600, 0x401}},  // VirtualSize 0: raw
        {0x400, 0x30000, 0x100, 0x200, 0x10000, img::FileSpan{0x400, 0x10400, 0x10201}},
        {0x400, 0x300, 0x250, 0x200, 0x200,
         img::FileSpan{0x400, 0x650, 0x650}},            // below a page: as is
        {0, 0x600, 0x600, 0x200, 0x1000, std::nullopt},  // no data in the file
        {0x400, 0, 0x600, 0x200, 0x1000, std::nullopt},
    };
    for (const auto& c : cases) {
        img::SectionHeader header;
        header.pointer_to_raw_data = c.pointer;
        header.size_of_raw_data = c.raw;
        header.virtual_size = c.virtual_size;
        img::ImageFacts facts;
        facts.file_alignment = c.file_alignment;
        facts.section_alignment = c.section_alignment;
        const auto span = img::loader_span(header, facts);
        ASSERT_EQ(span.has_value(), c.span.has_value()) << c.pointer << " " << c.raw;
        if (span)
            EXPECT_EQ(std::tuple(span->start, span->end, span->needed),
                      std::tuple(c.span->start, c.span->end, c.span->needed));
    }
}

TEST(ImageReaders, ACutImageIsToldByItsHeadersAndSections) {
    PeBuilder b;
    b.section({.virtual_address = 0x1000, .data = Bytes(0x600, 1), .name = ".text"})
        .section({.virtual_address = 0x2000,
                  .data = Bytes(0x1600, 2),
                  .raw_size = 0x1450,     // padded to 0x1600 in the file
                  .virtual_size = 0x300,  // the loader maps one page of it
                  .name = ".rdata"});
    Bytes whole = b.build();
    const std::uint64_t text_end = b.raw_offset(0) + 0x600, rdata = b.raw_offset(1);
    whole.resize(whole.size() + 0x800, 9);  // a payload after the image
    using Fault = img::ImageCheck::Fault;
    const struct {
        std::uint64_t length;
        Fault fault;
        const char* section;
        std::uint64_t needed;
    } cases[] = {
        {whole.size(), Fault::none, "", 0},
        {rdata + 0x1000 - 511, Fault::none, "", 0},  // the last sector may be short
        {rdata + 0x1000 - 512, Fault::section_cut, ".rdata", rdata + 0x1000 - 511},
        {rdata + 0x300, Fault::section_cut, ".rdata", rdata + 0x1000 - 511},
        {rdata, Fault::section_cut, ".rdata", rdata + 0x1000 - 511},
        {text_end - 511, Fault::section_cut, ".rdata", rdata + 0x1000 - 511},
        {text_end - 512, Fault::section_cut, ".text", text_end - 511},
        {b.section_table_offset() + 79, Fault::headers_cut, "", b.section_table_offset() + 80},
        {b.optional_header_offset() + 10, Fault::headers_cut, "", b.section_table_offset() + 80},
    };
    for (const auto& c : cases) {
        const Bytes file(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(c.length));
        const ExactImage image(file);
        const auto check = img::PeImage::parse(img::ByteView(image.data(), image.size())).check();
        EXPECT_EQ(check.fault, c.fault) << c.length;
        EXPECT_STREQ(check.section, c.section) << c.length;
        EXPECT_EQ(check.needed, c.needed) << c.length;
        EXPECT_EQ(check.file_size, c.length);
        if (c.fault != Fault::headers_cut) {
            // The raw data ends the image; up to FileAlignment after it is padding.
            EXPECT_EQ(check.image_end, rdata + 0x1450) << c.length;
            EXPECT_EQ(check.padding_end, rdata + 0x1600) << c.length;
        }
    }
}

TEST(ImageReaders, ApiSetSchemaAndItsDamage) {
    const Bytes section =
        api_set_section({{"api-ms-win-core-file-l1-2-0", {"kernelbase.dll", "kernel32.dll"}}});
    const auto schema_of = [](const Bytes& data) {
        PeBuilder b;
        b.section({.virtual_address = 0x1000, .data = data, .name = ".apiset"});
        return b.build();
    };
    {
        const Bytes file = schema_of(section);
        const ExactImage image(file);
        const auto schema = img::read_api_set_schema(map_of(image));
        ASSERT_TRUE(schema);
        ASSERT_EQ(schema->count, 1u);
        const auto entry = img::api_set_entry(*schema, 0);
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->hashed_name.length, std::string("api-ms-win-core-file-l1-2").size() * 2);
        ASSERT_EQ(entry->value_count, 2u);
        EXPECT_EQ(img::api_set_value(*schema, *entry, 1)->host.length,
                  std::string("kernel32.dll").size() * 2);
        EXPECT_FALSE(img::api_set_value(*schema, *entry, 2));
    }
    Bytes other_version = section, huge_count = section, bad_hash = section;
    put32(other_version, 0, 4);
    put32(huge_count, 12, 0xFFFFFFFF);
    put32(bad_hash, 28 + 12, 0x1000);  // hashed length past the name
    const auto count_of = [&](const Bytes& data) {
        const Bytes file = schema_of(data);
        const ExactImage image(file);
        const auto schema = img::read_api_set_schema(map_of(image));
        return schema ? static_cast<int>(schema->count) : -1;
    };
    EXPECT_EQ(count_of(other_version), -1);
    EXPECT_EQ(count_of(huge_count), static_cast<int>((section.size() - 28) / 24));
    const Bytes file = schema_of(bad_hash);
    const ExactImage image(file);
    EXPECT_FALSE(img::api_set_entry(*img::read_api_set_schema(map_of(image)), 0));
}

}  // namespace
