// The module list and the function list of a module, on images built here,
// PE32 and PE32+ alike; every call goes through a size query and a fill with
// guard bytes after the buffer.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bytes.h"
#include "image_lists.h"
#include "name_list_call.h"
#include "name_list_expect.h"
#include "pe_builder.h"

namespace korvex::test {
namespace {

using Strings = std::vector<std::string>;

ListCall modules_of(const Bytes& file) {
    const ExactImage image(file);
    ImageLists lists({image.data(), image.size()});
    return call_list([&](char* buffer) { return lists.modules(buffer); });
}

ListCall functions_of(const Bytes& file, std::string_view module) {
    const ExactImage image(file);
    ImageLists lists({image.data(), image.size()});
    return call_module_list([&](char* request) { return lists.functions(request); }, module);
}

Bytes as_bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Nothing to list: 0, and the buffer exactly as it was.
void expect_untouched(const ListCall& call, const char* what = "") {
    SCOPED_TRACE(what);
    EXPECT_EQ(call.query, 0);
    EXPECT_EQ(call.fill, 0);
    EXPECT_FALSE(call.query_wrote);
    EXPECT_FALSE(call.fill_wrote);
}

// An image whose import data is laid out as `layout` says and is the last
// thing in the file, so a test can cut it at an exact byte.
struct BuiltImports {
    Bytes file;
    ImportData data;
    std::uint32_t raw = 0;  // file offset of the import section's data
};

constexpr std::uint32_t import_rva = 0x1000;

BuiltImports imports_last(PeKind kind, const std::vector<ImportSpec>& modules,
                          const ImportLayout& layout = {}) {
    BuiltImports built;
    built.data = import_data(kind, import_rva, modules, layout);
    PeBuilder b(kind);
    b.section({.virtual_address = import_rva, .data = built.data.bytes});
    b.directory(1, import_rva + built.data.directory_at);
    built.file = b.build();
    built.raw = b.raw_offset(0);
    return built;
}

class ImportLists : public testing::TestWithParam<PeKind> {
protected:
    PeKind kind() const { return GetParam(); }
};

// ---- What well-formed import data lists --------------------------------------

TEST_P(ImportLists, ModulesInDescriptorOrder) {
    const Bytes file = pe_image(kind(), {{"KERNEL32.dll", {by_name("MapViewOfFile")}},
                                         {"USER32.dll", {by_name("MessageBoxA")}}});
    const ListCall call = modules_of(file);
    expect_list(call, {"KERNEL32.dll", "USER32.dll"});
    EXPECT_EQ(call.fill, 25);
    EXPECT_EQ(call.list, as_bytes(std::string_view("KERNEL32.dll\0USER32.dll\0", 25)));
}

TEST_P(ImportLists, OrdinalThenName) {
    const Bytes file =
        pe_image(kind(), {{"KERNEL32.dll", {by_ordinal(23), by_name("MapViewOfFile")}}});
    const ListCall call = functions_of(file, "KERNEL32.dll");
    expect_list(call, {"   23", "MapViewOfFile"});
    EXPECT_EQ(call.query, 21);
    EXPECT_EQ(call.list, as_bytes(std::string_view("   23\0MapViewOfFile\0", 21)));
}

TEST_P(ImportLists, OrdinalsAreFiveCharactersRightAligned) {
    const struct {
        std::uint16_t ordinal;
        const char* text;
    } cases[] = {{0, "    0"},    {7, "    7"},     {23, "   23"},
                 {9999, " 9999"}, {10000, "10000"}, {65535, "65535"}};
    ImportSpec module{"ORD.dll", {}};
    Strings expected;
    for (const auto& c : cases) {
        module.functions.push_back(by_ordinal(c.ordinal));
        expected.push_back(c.text);
    }
    expect_list(functions_of(pe_image(kind(), {module}), "ORD.dll"), expected);
}

TEST_P(ImportLists, ModuleNamesMatchByteForByte) {
    const Bytes file = pe_image(kind(), {{"KERNEL32.dll", {by_name("Sleep")}}});
    expect_list(functions_of(file, "KERNEL32.dll"), {"Sleep"});
    for (const char* other :
         {"kernel32.dll", "KERNEL32", "KERNEL32.dll ", "KERNEL32.dllx", "", "K"})
        expect_untouched(functions_of(file, other), other);
}

TEST_P(ImportLists, TheFirstOfTwoDescriptorsWithOneNameIsUsed) {
    const Bytes file = pe_image(kind(), {{"A.dll", {by_name("First")}},
                                         {"B.dll", {by_name("Other")}},
                                         {"A.dll", {by_name("Second")}}});
    expect_list(modules_of(file), {"A.dll", "B.dll", "A.dll"});
    expect_list(functions_of(file, "A.dll"), {"First"});
}

TEST_P(ImportLists, NoLookupTableListsNothingEvenWithAnAddressTable) {
    const Bytes file = pe_image(
        kind(), {{"NOINT.dll", {by_name("Filled"), by_ordinal(3)}, /*lookup_table=*/false}});
    expect_list(modules_of(file), {"NOINT.dll"});
    const ListCall call = functions_of(file, "NOINT.dll");
    expect_empty(call);
    EXPECT_TRUE(call.fill_wrote);  // the single NUL over the mode byte
}

TEST_P(ImportLists, ListsOfOneEntry) {
    // One empty entry is T = 1: it answers 0 like an empty list, and a fill
    // writes a single NUL, not two.
    expect_empty(modules_of(pe_image(kind(), {{"", {by_name("f")}}})), "empty module name");
    expect_list(modules_of(pe_image(kind(), {{"A", {}}})), {"A"}, "one letter");
    EXPECT_EQ(modules_of(pe_image(kind(), {{"A", {}}})).fill, 3);

    const Bytes file = pe_image(kind(), {{"M.dll", {by_name("")}}, {"N.dll", {by_name("g")}}});
    expect_empty(functions_of(file, "M.dll"), "empty function name");
    expect_list(functions_of(file, "N.dll"), {"g"}, "one-letter function");
    // A module with an empty lookup table.
    expect_empty(functions_of(pe_image(kind(), {{"E.dll", {}}}), "E.dll"), "no functions");
}

TEST_P(ImportLists, AnImportDirectoryWithoutModules) {
    // Only the terminating descriptor: the module list is empty and a fill
    // writes its NUL; no module can be found, so the function list leaves
    // the request alone.
    const BuiltImports built = imports_last(kind(), {});
    const ListCall call = modules_of(built.file);
    expect_empty(call);
    EXPECT_TRUE(call.fill_wrote);
    expect_untouched(functions_of(built.file, ""));
    expect_untouched(functions_of(built.file, "KERNEL32.dll"));
}

TEST_P(ImportLists, NoImportDirectoryLeavesTheBufferAlone) {
    Bytes without = pe_image(kind(), {}, {"Exported"});
    expect_untouched(modules_of(without), "no import directory");
    expect_untouched(functions_of(without, "KERNEL32.dll"), "no import directory");

    PeBuilder b(kind());
    b.section({.virtual_address = 0x1000, .data = Bytes(0x100, 0)});
    b.directory(1, 0x3000);  // in no section
    expect_untouched(modules_of(b.build()), "directory in no section");
    b.directory_count(1);
    expect_untouched(modules_of(b.build()), "index 1 not below NumberOfRvaAndSizes");
}

TEST_P(ImportLists, RvasAreConvertedThroughTheImportSection) {
    // The module name lies in another section; converted through the import
    // section its RVA lands elsewhere in the file, and that is what lists.
    auto data = import_data(kind(), 0x1000, {{"IGNORED", {by_name("f")}}});
    PeBuilder b(kind());
    b.section({.virtual_address = 0x1000, .data = data.bytes});
    Bytes names(0x400, 0);
    put_string(names, 0x000, "RIGHT.dll");  // where RVA 0x2000 really is
    put_string(names, 0x200, "WRONG.dll");
    b.section({.virtual_address = 0x2000, .data = names, .raw_offset = 0x600});
    b.directory(1, 0x1000);
    Bytes file = b.build();
    // Converted through the import section (raw 0x200): 0x200 - 0x1000 + 0x2600 = 0x1800.
    ASSERT_EQ(b.raw_offset(0), 0x200u);
    put32(file, b.raw_offset(0) + data.descriptor_at[0] + descriptor_name_at, 0x2600);
    file.resize(0x1800);
    put_string(file, 0x1800, "CONVERTED.dll");
    expect_list(modules_of(file), {"CONVERTED.dll"});
    expect_list(functions_of(file, "CONVERTED.dll"), {"f"});
}

TEST_P(ImportLists, LookupTablesAndHintNamesAreConvertedThroughTheImportSection) {
    // The lookup table and its hint/name entry lie in a second section (raw
    // 0x600, RVA 0x2000). Read where that section really places either of
    // them, they give "WRONG"; converted through the import section (raw
    // 0x200, RVA 0x1000) they land at file offsets 0x1200 and 0x1300, and
    // that is what lists.
    const bool wide = kind() == PeKind::pe32_plus;
    const auto put_entry = [&](Bytes& bytes, std::size_t at, std::uint32_t rva) {
        if (wide)
            put64(bytes, at, rva);
        else
            put32(bytes, at, rva);
    };
    Bytes imports(0x100, 0);
    put32(imports, descriptor_lookup_table_at, 0x2000);
    put32(imports, descriptor_name_at, 0x1080);
    put_string(imports, 0x80, "T.dll");
    Bytes other(0x400, 0);
    put_entry(other, 0x000, 0x2200);    // the table where section 2 places it
    put_string(other, 0x102, "WRONG");  // RVA 0x2100 + 2 by section 2
    put_string(other, 0x202, "WRONG");  // RVA 0x2200 + 2 by section 2
    PeBuilder b(kind());
    b.section({.virtual_address = 0x1000, .data = imports});
    b.section({.virtual_address = 0x2000, .data = other, .raw_offset = 0x600});
    b.directory(1, 0x1000);
    Bytes file = b.build();
    ASSERT_EQ(b.raw_offset(0), 0x200u);
    file.resize(0x1500);
    put_entry(file, 0x1200, 0x2100);
    put_string(file, 0x1302, "Converted");
    put_string(file, 0x1402, "WRONG");  // RVA 0x2200 + 2 by the import section
    expect_list(functions_of(file, "T.dll"), {"Converted"});
}

TEST_P(ImportLists, TensOfThousandsOfDescriptors) {
    std::vector<ImportSpec> modules;
    for (int i = 0; i < 60000; ++i) {
        std::string name = "m";
        name += std::to_string(i);
        name += ".dll";
        modules.push_back({name, {}, false});
    }
    modules.back().functions = {by_name("Last")};
    modules.back().lookup_table = true;
    const BuiltImports built = imports_last(kind(), modules);
    const ListCall all = modules_of(built.file);
    EXPECT_TRUE(all.well_formed);
    ASSERT_EQ(all.entries.size(), 60000u);
    EXPECT_EQ(all.entries.back(), "m59999.dll");
    expect_list(functions_of(built.file, "m59999.dll"), {"Last"});
    expect_empty(functions_of(built.file, "m0.dll"));
    expect_untouched(functions_of(built.file, "m60000.dll"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ImportLists, testing::Values(PeKind::pe32, PeKind::pe32_plus),
                         KindName());

// ---- Lookup entries of the two widths ---------------------------------------

// One module "W.dll" whose lookup table holds `entries` as written, and one
// hint/name entry "Named" at section offset 0x300.
Bytes raw_entries(PeKind kind, std::uint32_t section_rva,
                  const std::vector<std::uint64_t>& entries) {
    Bytes section(0x400, 0);
    put32(section, 0, section_rva + 0x100);   // OriginalFirstThunk
    put32(section, 12, section_rva + 0x200);  // Name
    put_string(section, 0x200, "W.dll");
    put_string(section, 0x302, "Named");
    const std::uint32_t width = kind == PeKind::pe32 ? 4 : 8;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (kind == PeKind::pe32)
            put32(section, 0x100 + static_cast<std::uint32_t>(i) * width,
                  static_cast<std::uint32_t>(entries[i]));
        else
            put64(section, 0x100 + static_cast<std::uint32_t>(i) * width, entries[i]);
    }
    PeBuilder b(kind);
    b.section({.virtual_address = section_rva, .data = section});
    b.directory(1, section_rva);
    return b.build();
}

TEST(LookupEntries, Pe32Bit31MarksAnOrdinalInTheLow16Bits) {
    const Bytes file =
        raw_entries(PeKind::pe32, 0x1000, {0x80000017, 0xFFFF0018, 0x80010000, 0x1300});
    expect_list(functions_of(file, "W.dll"), {"   23", "   24", "    0", "Named"});
}

TEST(LookupEntries, Pe32PlusBit63MarksAnOrdinalAndBit31DoesNot) {
    // The section sits at RVA 0x80000000, so a name entry's RVA has bit 31 set.
    const Bytes file = raw_entries(PeKind::pe32_plus, 0x80000000,
                                   {
                                       0x8000000000000017,  // ordinal 23
                                       0xFFFFFFFFFFFF0018,  // ordinal 24: only the low 16 bits
                                       0x80000300,          // a name, bit 31 set
                                       0x7FFFFFFF80000300,  // bits 32-62 are not part of the RVA
                                   });
    expect_list(functions_of(file, "W.dll"), {"   23", "   24", "Named", "Named"});
}

TEST(LookupEntries, Pe32PlusReadsEightBytesAnEntry) {
    // The words 0x1300, 0x80000017, 0x1300 read as two 64-bit entries: the
    // first has bit 63 set (from the second word) and is ordinal 0x1300; the
    // second is a name.
    const Bytes file = raw_entries(PeKind::pe32_plus, 0x1000, {0x8000001700001300, 0x1300});
    expect_list(functions_of(file, "W.dll"), {" 4864", "Named"});
}

TEST(LookupEntries, Pe32PlusNameRvaAtTheTopDoesNotWrapAround) {
    // Section RVA 0x10, data at 0x200: a name 2 bytes past RVA 0xFFFFFFFE
    // would, in 32-bit arithmetic, land at file offset 0x1F0.
    Bytes file = raw_entries(PeKind::pe32_plus, 0x10, {0x1300 - 0x1000 + 0x10, 0xFFFFFFFE});
    put_string(file, 0x1F0, "WRAPPED");
    expect_list(functions_of(file, "W.dll"), {"Named"});
}

// ---- Damaged import data: the entries before the damage ---------------------

TEST_P(ImportLists, DescriptorsWithoutTerminatorRunToTheEndOfTheFile) {
    ImportLayout layout;
    layout.order = {ImportPart::module_names, ImportPart::tables, ImportPart::hint_names,
                    ImportPart::descriptors};
    layout.descriptor_terminator = false;
    const BuiltImports built = imports_last(
        kind(), {{"A.dll", {by_name("a")}}, {"B.dll", {by_name("b")}}, {"C.dll", {by_name("c")}}},
        layout);
    ASSERT_EQ(built.file.size(), built.raw + built.data.descriptor_at[2] + 20);

    expect_list(modules_of(built.file), {"A.dll", "B.dll", "C.dll"},
                "last descriptor ends the file");
    expect_list(functions_of(built.file, "C.dll"), {"c"});

    const Bytes cut(built.file.begin(), built.file.end() - 1);
    expect_list(modules_of(cut), {"A.dll", "B.dll"}, "last descriptor one byte short");
    expect_list(functions_of(cut, "B.dll"), {"b"});
    expect_untouched(functions_of(cut, "C.dll"), "module past the damage is not found");
}

TEST_P(ImportLists, ModuleNamesThatRunToTheEndOfTheFile) {
    const BuiltImports built = imports_last(kind(), {{"A.dll", {}}, {"LAST.dll", {by_name("f")}}});
    ASSERT_EQ(built.file.size(), built.raw + built.data.module_name_at[1] + 9);
    expect_list(modules_of(built.file), {"A.dll", "LAST.dll"}, "NUL is the file's last byte");
    expect_list(functions_of(built.file, "LAST.dll"), {"f"});

    const Bytes cut(built.file.begin(), built.file.end() - 1);
    expect_list(modules_of(cut), {"A.dll"}, "no NUL before the end");
    expect_untouched(functions_of(cut, "LAST.dll"));
    expect_untouched(functions_of(cut, "LAST.dl"));

    const std::uint32_t name_field = built.raw + built.data.descriptor_at[1] + descriptor_name_at;
    const struct {
        std::uint32_t rva;
        const char* what;
    } far[] = {
        {import_rva + static_cast<std::uint32_t>(built.file.size() - built.raw),
         "one past the end"},
        {0xFFFFFFFF, "0xFFFFFFFF"},
        {import_rva - built.raw - 1, "one before the file"},
        {0x80000000, "0x80000000"},
    };
    for (const auto& f : far) {
        Bytes moved = built.file;
        put32(moved, name_field, f.rva);
        expect_list(modules_of(moved), {"A.dll"}, f.what);
    }
    Bytes first = built.file;
    put32(first, name_field, import_rva - built.raw);  // the file's first byte: "MZ"
    expect_list(modules_of(first), {"A.dll", "MZ"}, "name at file offset 0");
}

TEST_P(ImportLists, LookupTablesWithoutTerminatorRunToTheEndOfTheFile) {
    ImportLayout layout;
    layout.order = {ImportPart::descriptors, ImportPart::hint_names, ImportPart::module_names,
                    ImportPart::tables};
    layout.table_terminators = false;
    const BuiltImports built = imports_last(
        kind(), {{"T.dll", {by_name("one"), by_ordinal(2), by_name("three")}}}, layout);
    const std::size_t width = kind() == PeKind::pe32 ? 4 : 8;
    ASSERT_EQ(built.file.size(), built.raw + built.data.table_at[0] + 3 * width);

    expect_list(functions_of(built.file, "T.dll"), {"one", "    2", "three"},
                "last entry ends the file");
    const Bytes cut(built.file.begin(), built.file.end() - 1);
    expect_list(functions_of(cut, "T.dll"), {"one", "    2"}, "last entry one byte short");
    const Bytes two_cut(built.file.begin(),
                        built.file.end() - static_cast<std::ptrdiff_t>(width + 1));
    expect_list(functions_of(two_cut, "T.dll"), {"one"}, "two entries short");
}

TEST_P(ImportLists, FunctionNamesThatRunToTheEndOfTheFile) {
    ImportLayout layout;
    layout.order = {ImportPart::descriptors, ImportPart::tables, ImportPart::module_names,
                    ImportPart::hint_names};
    const BuiltImports built =
        imports_last(kind(), {{"F.dll", {by_name("first"), by_name("last")}}}, layout);
    ASSERT_EQ(built.file.size(), built.raw + built.data.hint_name_at[0][1] + 2 + 5);
    expect_list(functions_of(built.file, "F.dll"), {"first", "last"},
                "NUL is the file's last byte");

    const Bytes cut(built.file.begin(), built.file.end() - 1);
    expect_list(functions_of(cut, "F.dll"), {"first"}, "no NUL before the end");

    // The second entry's hint/name RVA moved: the name (2 bytes past it) must
    // lie in the file.
    const std::size_t width = kind() == PeKind::pe32 ? 4 : 8;
    const std::uint32_t entry =
        built.raw + built.data.table_at[0] + static_cast<std::uint32_t>(width);
    const auto end_rva = static_cast<std::uint32_t>(import_rva + built.file.size() - built.raw);
    const struct {
        std::uint32_t rva;
        Strings expected;
        const char* what;
    } cases[] = {
        {end_rva - 3, {"first", ""}, "empty name, its NUL the last byte"},
        {end_rva - 2, {"first"}, "name exactly at the end"},
        {end_rva - 1, {"first"}, "hint cut by the end"},
        {0x7FFFFFFF, {"first"}, "largest PE32 RVA"},
        {import_rva - built.raw - 2,
         {"first", "MZ"},
         "hint before the file, name at its first byte"},
        {import_rva - built.raw - 3, {"first"}, "name before the file"},
    };
    for (const auto& c : cases) {
        Bytes moved = built.file;
        put32(moved, entry, c.rva);
        expect_list(functions_of(moved, "F.dll"), c.expected, c.what);
    }
    if (kind() == PeKind::pe32_plus) {
        // RVA 0xFFFFFFFE: 2 bytes on, 32-bit arithmetic would wrap to the start.
        for (const std::uint32_t rva : {0xFFFFFFFEu, 0xFFFFFFFFu}) {
            Bytes moved = built.file;
            put64(moved, entry, rva);
            expect_list(functions_of(moved, "F.dll"), {"first"}, "RVA at the top");
        }
    }
}

TEST_P(ImportLists, LookupTableOutsideTheFileIsAnEmptyList) {
    const BuiltImports built =
        imports_last(kind(), {{"A.dll", {by_name("f")}}, {"B.dll", {by_name("g")}}});
    const std::uint32_t field =
        built.raw + built.data.descriptor_at[0] + descriptor_lookup_table_at;
    const auto end_rva = static_cast<std::uint32_t>(import_rva + built.file.size() - built.raw);
    for (const std::uint32_t rva :
         {end_rva, 0xFFFFFFFFu, 0x80000000u, import_rva - built.raw - 1}) {
        Bytes moved = built.file;
        put32(moved, field, rva);
        const ListCall call = functions_of(moved, "A.dll");
        expect_empty(call);
        EXPECT_TRUE(call.fill_wrote);
        expect_list(functions_of(moved, "B.dll"), {"g"});
    }
}

// A descriptor whose name lies outside the file ends the module walk. So
// does one whose Name is 0: that field alone marks the end, and a descriptor
// that still points at a lookup table and an address table ends the walk all
// the same.
TEST_P(ImportLists, DamageOrANameOfZeroEndsTheModuleWalk) {
    const struct {
        std::size_t at;
        std::uint32_t name;
        const char* what;
    } cases[] = {
        {1, 0xFFFFFFFF, "name outside the file in descriptor 1"},
        {0, 0, "Name 0 in descriptor 0"},
        {1, 0, "Name 0 in descriptor 1"},
    };
    for (const auto& c : cases) {
        BuiltImports built = imports_last(
            kind(),
            {{"A.dll", {by_name("a")}}, {"B.dll", {by_name("b")}}, {"C.dll", {by_name("c")}}});
        put32(built.file, built.raw + built.data.descriptor_at[c.at] + descriptor_name_at, c.name);
        if (c.at == 0) {
            expect_empty(modules_of(built.file), c.what);
        } else {
            expect_list(modules_of(built.file), {"A.dll"}, c.what);
            expect_list(functions_of(built.file, "A.dll"), {"a"}, c.what);
        }
        // Listed after the end, so not found.
        expect_untouched(functions_of(built.file, "B.dll"), c.what);
        expect_untouched(functions_of(built.file, "C.dll"), c.what);
    }
}

TEST_P(ImportLists, ImportDirectoryCutByTheEndOfTheFile) {
    // The directory's first byte is the file's last: no whole descriptor.
    const BuiltImports built = imports_last(kind(), {{"A.dll", {}}});
    Bytes file = built.file;
    PeBuilder b(kind());
    b.section({.virtual_address = import_rva, .data = built.data.bytes});
    const auto last_rva = static_cast<std::uint32_t>(import_rva + file.size() - 1 - built.raw);
    put32(file, b.directory_entry_offset(1), last_rva);
    const ListCall call = modules_of(file);
    expect_empty(call);
    expect_untouched(functions_of(file, "A.dll"));
}

// ---- The size limit of a list -------------------------------------------------

TEST(ListSizeLimit, ModulesPastTheLargestAnswerAreNotListed) {
    // 256 descriptors naming one 8 MiB - 1 name: 255 entries of 8 MiB fit
    // below 2^31 - 1 bytes, the 256th does not, nor does anything after it.
    constexpr std::uint32_t entry = 8u << 20;
    std::vector<ImportSpec> modules(257, ImportSpec{"x", {}, false});
    modules.back().module = "after.dll";
    BuiltImports built = imports_last(PeKind::pe32, modules);
    const std::uint32_t long_name = static_cast<std::uint32_t>(built.file.size());
    built.file.resize(long_name + entry - 1, 'N');
    built.file.push_back(0);
    for (std::size_t i = 0; i < 256; ++i)
        put32(built.file, built.raw + built.data.descriptor_at[i] + descriptor_name_at,
              import_rva + long_name - built.raw);
    const ExactImage image(built.file);
    ImageLists lists({image.data(), image.size()});
    EXPECT_EQ(lists.modules(nullptr), static_cast<std::int32_t>(255 * entry + 1));

    std::string request = "0after.dll";
    EXPECT_EQ(lists.functions(request.data()), 0);
    EXPECT_EQ(request, "0after.dll");
}

TEST(ListSizeLimit, FunctionsPastTheLargestAnswerAreNotListed) {
    constexpr std::uint32_t entry = 8u << 20;
    std::vector<ImportSpec::Function> functions(300, by_name("f"));
    BuiltImports built = imports_last(PeKind::pe32, {{"BIG.dll", functions}});
    const std::uint32_t long_name = static_cast<std::uint32_t>(built.file.size());
    built.file.resize(long_name + 2 + entry - 1, 'N');
    built.file.push_back(0);
    for (std::uint32_t i = 0; i < 300; ++i)
        put32(built.file, built.raw + built.data.table_at[0] + 4 * i,
              import_rva + long_name - built.raw);
    const ExactImage image(built.file);
    std::string request = "0BIG.dll";
    EXPECT_EQ(ImageLists({image.data(), image.size()}).functions(request.data()),
              static_cast<std::int32_t>(255 * entry + 1));
}

}  // namespace
}  // namespace korvex::test
