// The export name list on images built here, PE32 and PE32+ alike: the first
// name the name array gives and the strings stored right after it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "image_lists.h"
#include "name_list_call.h"
#include "name_list_expect.h"
#include "pe_builder.h"

namespace korvex::test {
namespace {

using Strings = std::vector<std::string>;

ListCall exports_of(const Bytes& file) {
    const ExactImage image(file);
    ImageLists lists({image.data(), image.size()});
    return call_list([&](char* buffer) { return lists.exports(buffer); });
}

constexpr std::uint32_t export_rva = 0x2000;

// An image whose only section holds the export data, which ends the file.
struct BuiltExports {
    Bytes file;
    ExportData data;
    std::uint32_t raw = 0;          // file offset of the section's data
    std::uint32_t directory_entry;  // file offset of DataDirectory[0]

    std::uint32_t at(std::uint32_t offset_in_section) const { return raw + offset_in_section; }
    std::uint32_t rva_of_file_offset(std::size_t offset) const {
        return static_cast<std::uint32_t>(export_rva + offset - raw);
    }
};

BuiltExports exports_last(PeKind kind, const Strings& names) {
    BuiltExports built;
    built.data = export_data(export_rva, names);
    PeBuilder b(kind);
    b.section({.virtual_address = export_rva, .data = built.data.bytes});
    b.directory(0, export_rva);
    built.file = b.build();
    built.raw = b.raw_offset(0);
    built.directory_entry = b.directory_entry_offset(0);
    return built;
}

class ExportList : public testing::TestWithParam<PeKind> {
protected:
    PeKind kind() const { return GetParam(); }
};

TEST_P(ExportList, NamesStoredOneAfterAnother) {
    const BuiltExports built = exports_last(kind(), {"MapFile", "UnmapFile"});
    const ListCall call = exports_of(built.file);
    expect_list(call, {"MapFile", "UnmapFile"});
    EXPECT_EQ(call.fill, 19);
    const std::string expected("MapFile\0UnmapFile\0", 19);
    EXPECT_EQ(call.list, Bytes(expected.begin(), expected.end()));
}

TEST_P(ExportList, NumberOfNamesCountsTheStringsFromTheFirstName) {
    const BuiltExports built = exports_last(kind(), {"A", "B", "C"});
    const std::uint32_t count_at = built.at(export_number_of_names_at);
    const struct {
        std::uint32_t count;
        Strings expected;
    } cases[] = {
        {1, {"A"}},
        {2, {"A", "B"}},
        {3, {"A", "B", "C"}},
        {4, {"A", "B", "C"}},           // the file ends after C
        {0x7FFFFFFF, {"A", "B", "C"}},  // as many as the file holds
    };
    for (const auto& c : cases) {
        Bytes file = built.file;
        put32(file, count_at, c.count);
        expect_list(exports_of(file), c.expected, std::to_string(c.count).c_str());
    }
    // Bytes after the names read as further strings: two zero bytes are two
    // empty names.
    Bytes padded = built.file;
    put32(padded, count_at, 5);
    padded.insert(padded.end(), {0, 0, 'x'});
    expect_list(exports_of(padded), {"A", "B", "C", "", ""});
}

TEST_P(ExportList, NamesAcrossManyBlocksEndAtTheNumberOfNames) {
    // Names of 1 to 40 characters, some 300 KiB of them, so that the count
    // ends inside a word, at a word's end and in every block.
    Strings names;
    for (int i = 0; i < 15000; ++i)
        names.push_back(std::string(1 + i * 7 % 40, static_cast<char>('a' + i % 26)));
    const BuiltExports built = exports_last(kind(), names);
    for (const std::uint32_t count : {1u, 7u, 8u, 9u, 63u, 64u, 65u, 4097u, 14999u, 15000u}) {
        Bytes file = built.file;
        put32(file, built.at(export_number_of_names_at), count);
        const ListCall call = exports_of(file);
        ASSERT_TRUE(call.well_formed) << count;
        ASSERT_EQ(call.entries.size(), count);
        EXPECT_EQ(call.entries.back(), names[count - 1]) << count;
    }
}

TEST_P(ExportList, NumberOfNamesZeroOrNegativeIsAnEmptyListAndTheArrayIsNotRead) {
    const BuiltExports built = exports_last(kind(), {"A", "B"});
    for (const std::uint32_t count : {0u, 0x80000000u, 0xFFFFFFFFu, 0x80000001u}) {
        Bytes file = built.file;
        put32(file, built.at(export_number_of_names_at), count);
        expect_empty(exports_of(file), std::to_string(count).c_str());
        put32(file, built.at(export_address_of_names_at), 0xFFFFFFFF);
        expect_empty(exports_of(file), std::to_string(count).c_str());
    }
}

TEST_P(ExportList, OnlyTheFirstElementOfTheNameArrayIsRead) {
    const BuiltExports built = exports_last(kind(), {"A", "B", "C"});
    Bytes garbage = built.file;
    put32(garbage, built.at(built.data.names_array_at + 4), 0xFFFFFFFF);
    put32(garbage, built.at(built.data.names_array_at + 8), 0);
    expect_list(exports_of(garbage), {"A", "B", "C"});

    // A first element pointing at B: three strings from there, but the file
    // holds only two.
    Bytes from_b = built.file;
    put32(from_b, built.at(built.data.names_array_at), export_rva + built.data.strings_at + 2);
    expect_list(exports_of(from_b), {"B", "C"});
}

TEST_P(ExportList, ListsOfOneEntry) {
    expect_list(exports_of(exports_last(kind(), {"A"}).file), {"A"}, "one letter");
    EXPECT_EQ(exports_of(exports_last(kind(), {"A"}).file).fill, 3);
    const ListCall empty_name = exports_of(exports_last(kind(), {""}).file);
    expect_empty(empty_name, "one empty name");
    ASSERT_GE(empty_name.list.size(), 1u);
}

TEST_P(ExportList, NoExportDirectoryLeavesTheBufferAlone) {
    const Bytes file = pe_image(kind(), {{"KERNEL32.dll", {}}});
    const ListCall call = exports_of(file);
    EXPECT_EQ(call.query, 0);
    EXPECT_EQ(call.fill, 0);
    EXPECT_FALSE(call.fill_wrote);
}

TEST_P(ExportList, StringsThatRunToTheEndOfTheFile) {
    const BuiltExports built = exports_last(kind(), {"First", "Last"});
    Bytes file = built.file;
    put32(file, built.at(export_number_of_names_at), 0x7FFFFFFF);
    expect_list(exports_of(file), {"First", "Last"}, "NUL is the file's last byte");
    file.pop_back();
    expect_list(exports_of(file), {"First"}, "no NUL before the end");
    file.resize(file.size() - 4);  // down to "First\0"
    expect_list(exports_of(file), {"First"}, "the first string ends the file");
    file.pop_back();
    expect_empty(exports_of(file), "not even the first string ends");
}

TEST_P(ExportList, NameArrayAtTheEndOfTheFile) {
    // The array's first element is the file's last four bytes.
    const BuiltExports built = exports_last(kind(), {"Only"});
    Bytes file = built.file;
    const std::size_t array = file.size();
    put32(file, array, export_rva + built.data.strings_at);
    put32(file, built.at(export_address_of_names_at), built.rva_of_file_offset(array));
    expect_list(exports_of(file), {"Only"}, "element ends the file");

    const Bytes cut(file.begin(), file.end() - 1);
    expect_empty(exports_of(cut), "element one byte past the end");

    for (const std::uint32_t rva : {0xFFFFFFFFu, built.rva_of_file_offset(file.size()), 0x80000000u,
                                    built.rva_of_file_offset(0) - 1}) {
        Bytes far = built.file;
        put32(far, built.at(export_address_of_names_at), rva);
        expect_empty(exports_of(far), std::to_string(rva).c_str());
    }
}

TEST_P(ExportList, FirstNameOutsideTheFile) {
    const BuiltExports built = exports_last(kind(), {"A"});
    for (const std::uint32_t rva : {0xFFFFFFFFu, built.rva_of_file_offset(built.file.size()),
                                    built.rva_of_file_offset(0) - 1}) {
        Bytes file = built.file;
        put32(file, built.at(built.data.names_array_at), rva);
        expect_empty(exports_of(file), std::to_string(rva).c_str());
    }
    Bytes start = built.file;
    put32(start, built.at(built.data.names_array_at), built.rva_of_file_offset(0));
    expect_list(exports_of(start), {"MZ"}, "the file's first byte");
}

TEST_P(ExportList, ExportDirectoryCutByTheEndOfTheFile) {
    const BuiltExports built = exports_last(kind(), {"A"});
    const std::size_t size = built.file.size();
    const struct {
        std::size_t bytes_left;  // of the directory, from its first byte to the end of the file
        const char* what;
    } cases[] = {
        {1, "only its first byte"},
        {27, "NumberOfNames cut"},
        {28, "NumberOfNames whole, AddressOfNames missing"},
        {35, "AddressOfNames cut"},
    };
    for (const auto& c : cases) {
        Bytes file = built.file;
        const std::size_t directory = size - c.bytes_left;
        put32(file, built.directory_entry, built.rva_of_file_offset(directory));
        // Where NumberOfNames is whole, it asks for a name.
        if (c.bytes_left >= export_number_of_names_at + 4)
            put32(file, directory + export_number_of_names_at, 1);
        ASSERT_EQ(file.size(), size);
        expect_empty(exports_of(file), c.what);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ExportList, testing::Values(PeKind::pe32, PeKind::pe32_plus),
                         KindName());

TEST(ExportListConversion, RvasAreConvertedThroughTheExportSection) {
    // The name array and names lie in a second section; converted through
    // the export section, the first element's RVA lands elsewhere in the file.
    auto data = export_data(0x2000, {"Real"});
    PeBuilder b(PeKind::pe32);
    b.section({.virtual_address = 0x2000, .data = data.bytes});
    b.section({.virtual_address = 0x4000, .data = Bytes(0x200, 0)});
    b.directory(0, 0x2000);
    Bytes file = b.build();
    ASSERT_EQ(b.raw_offset(0), 0x200u);
    // AddressOfNames 0x4000 converts through the export section to 0x2200.
    put32(file, 0x200 + export_address_of_names_at, 0x4000);
    file.resize(0x2200);
    put32(file, 0x2200, 0x2000 + 0x2208 - 0x200);  // first element: file offset 0x2208
    put_string(file, 0x2208, "Converted");
    expect_list(exports_of(file), {"Converted"});
}

}  // namespace
}  // namespace korvex::test
