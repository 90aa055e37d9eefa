// The directory lookup on images built here, PE32 and PE32+ alike: which
// section holds a directory, where its data lies in the file, and what a
// header, table or position outside the file answers.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "bytes.h"
#include "image/directory_lookup.h"
#include "library_probes.h"
#include "pe_builder.h"

namespace korvex::test {
namespace {

using korvex::image::ByteView;
using korvex::image::find_directory;
using korvex::image::FindDirectoryData;
using korvex::image::FindDirectorySection;

ByteView view(const Bytes& bytes) { return {bytes.data(), bytes.size()}; }

// File offsets that FindDirectoryData and FindDirectorySection answer,
// or nothing for null.
std::optional<std::size_t> offset_in(const Bytes& file, const std::uint8_t* p) {
    return p == nullptr ? std::nullopt : std::optional<std::size_t>(p - file.data());
}
std::optional<std::size_t> data_offset(const Bytes& file, std::uint32_t index) {
    return offset_in(file, FindDirectoryData(view(file), index));
}
std::optional<std::size_t> section_offset(const Bytes& file, std::uint32_t index) {
    return offset_in(file, FindDirectorySection(view(file), index));
}

Bytes filled(std::size_t size) { return Bytes(size, 0xCC); }

class DirectoryLookup : public testing::TestWithParam<PeKind> {
protected:
    PeKind kind() const { return GetParam(); }

    // Two sections: RVA 0x1000 (0x200 bytes) and RVA 0x2000 (0x100 bytes).
    PeBuilder two_sections() const {
        PeBuilder b(kind());
        b.section({.virtual_address = 0x1000, .data = filled(0x200)});
        b.section({.virtual_address = 0x2000, .data = filled(0x100)});
        return b;
    }
};

TEST_P(DirectoryLookup, DataAndSectionOfADirectoryInTheSecondSection) {
    PeBuilder b = two_sections();
    b.directory(1, 0x2010);
    const Bytes file = b.build();
    EXPECT_EQ(data_offset(file, 1), b.raw_offset(1) + 16u);
    EXPECT_EQ(section_offset(file, 1), b.section_header_offset(1));
    const auto found = find_directory(view(file), 1);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->section.virtual_address, 0x2000u);
    EXPECT_EQ(found->section.size_of_raw_data, 0x100u);
    EXPECT_EQ(found->section.pointer_to_raw_data, b.raw_offset(1));
}

TEST_P(DirectoryLookup, NumberOfRvaAndSizesBoundsTheIndexUnsigned) {
    const struct {
        std::uint32_t count;
        std::uint32_t index;
        bool found;
    } cases[] = {
        {1, 1, false},
        {2, 1, true},
        {0, 0, false},
        {16, 1, true},
        {0xFFFFFFFF, 1, true},  // not negative: every index below it counts
        {0x80000000, 1, true},
        {0xFFFFFFFF, 0xFFFFFFFF, false},  // not below the count
        {0xFFFFFFFF, 0xFFFFFFFE, false},  // its entry lies far outside the file
    };
    for (const auto& c : cases) {
        PeBuilder b = two_sections();
        b.directory(1, 0x1000).directory_count(c.count);
        const Bytes file = b.build();
        EXPECT_EQ(data_offset(file, c.index).has_value(), c.found) << c.count << " " << c.index;
        EXPECT_EQ(section_offset(file, c.index).has_value(), c.found) << c.count << " " << c.index;
    }
}

TEST_P(DirectoryLookup, ContainmentIsMeasuredBySizeOfRawData) {
    const struct {
        const char* what;
        std::uint32_t rva;
        std::optional<std::uint32_t> offset_in_section;  // nothing: not found
    } cases[] = {
        {"at VirtualAddress", 0x1000, 0},
        {"last byte of the raw data", 0x10FF, 0xFF},
        {"at VirtualAddress + SizeOfRawData", 0x1100, std::nullopt},
        {"inside VirtualSize, past the raw data", 0x1800, std::nullopt},
        {"just below VirtualAddress", 0x0FFF, std::nullopt},
        {"RVA 0", 0, std::nullopt},
    };
    for (const auto& c : cases) {
        PeBuilder b(kind());
        b.section({.virtual_address = 0x1000, .data = filled(0x100), .virtual_size = 0x1000});
        b.directory(0, c.rva);
        const Bytes file = b.build();
        const auto expected =
            c.offset_in_section ? std::optional<std::size_t>(b.raw_offset(0) + *c.offset_in_section)
                                : std::nullopt;
        EXPECT_EQ(data_offset(file, 0), expected) << c.what;
    }
}

TEST_P(DirectoryLookup, TheEarlierOfTwoHoldingSectionsAnswers) {
    PeBuilder b(kind());
    b.section({.virtual_address = 0x1000, .data = filled(0x100)});
    b.section({.virtual_address = 0x1000, .data = filled(0x100)});
    b.directory(1, 0x1010);
    const Bytes file = b.build();
    EXPECT_EQ(data_offset(file, 1), b.raw_offset(0) + 0x10u);
    EXPECT_EQ(section_offset(file, 1), b.section_header_offset(0));

    // The first holder ends the search even when its data is not in the file.
    Bytes broken = file;
    put32(broken, b.section_header_offset(0) + section_raw_offset_at, 0xFFFFFF00);
    EXPECT_EQ(data_offset(broken, 1), std::nullopt);
    EXPECT_EQ(section_offset(broken, 1), std::nullopt);
}

TEST_P(DirectoryLookup, NoSectionsMeansNoDirectory) {
    PeBuilder b = two_sections();
    for (std::uint32_t i = 0; i < 16; ++i) b.directory(i, 0x1000 + 0x10 * i);
    b.section_count(0);
    const Bytes file = b.build();
    for (std::uint32_t i = 0; i < 16; ++i) {
        EXPECT_EQ(data_offset(file, i), std::nullopt) << i;
        EXPECT_EQ(section_offset(file, i), std::nullopt) << i;
    }
}

TEST_P(DirectoryLookup, DirectoryInNoSectionIsNull) {
    PeBuilder b = two_sections();
    b.directory(0, 0x3000).directory(1, 0x1200);
    const Bytes file = b.build();
    EXPECT_EQ(data_offset(file, 0), std::nullopt);
    EXPECT_EQ(data_offset(file, 1), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DirectoryLookup, testing::Values(PeKind::pe32, PeKind::pe32_plus),
                         KindName());

// ---- Where the section table stands ----------------------------------------

TEST(SectionTablePosition, Pe32AlwaysSearchesAtHPlus248) {
    for (const int optional_size : {0, 224, 240, 0x100, 0xFFFF}) {
        PeBuilder b(PeKind::pe32);
        b.optional_header_size(static_cast<std::uint16_t>(optional_size))
            .section_table_at(0x40 + 248);
        b.section({.virtual_address = 0x1000, .data = filled(0x100)});
        b.directory(1, 0x1000);
        EXPECT_EQ(data_offset(b.build(), 1), b.raw_offset(0)) << optional_size;
    }
    // A PE32 table placed after a longer optional header is not found there.
    PeBuilder b(PeKind::pe32);
    b.optional_header_size(240);
    b.section({.virtual_address = 0x1000, .data = filled(0x100)});
    b.directory(1, 0x1000);
    EXPECT_EQ(data_offset(b.build(), 1), std::nullopt);
}

TEST(SectionTablePosition, Pe32PlusFollowsSizeOfOptionalHeader) {
    for (const int optional_size : {240, 0x100, 224}) {
        PeBuilder b(PeKind::pe32_plus);
        b.optional_header_size(static_cast<std::uint16_t>(optional_size));
        b.section({.virtual_address = 0x1000, .data = filled(0x100)});
        b.directory(1, 0x1000);
        EXPECT_EQ(data_offset(b.build(), 1), b.raw_offset(0)) << optional_size;
    }
    // The table at H + 248, as PE32 would have it, is not where PE32+ looks.
    PeBuilder b(PeKind::pe32_plus);
    b.optional_header_size(0x100).section_table_at(0x40 + 248);
    b.section({.virtual_address = 0x1000, .data = filled(0x100)});
    b.directory(1, 0x1000);
    EXPECT_EQ(data_offset(b.build(), 1), std::nullopt);
}

TEST(SectionTablePosition, OnlyMagic0x20BSelectsPe32Plus) {
    // A PE32+ image whose Magic says anything else is read with the PE32
    // layout: NumberOfRvaAndSizes then lands on the 64-bit heap commit.
    for (const int magic : {0x10B, 0x107, 0x20A, 0x0000}) {
        PeBuilder b(PeKind::pe32_plus);
        b.section({.virtual_address = 0x1000, .data = filled(0x100)});
        b.directory(1, 0x1000);
        Bytes file = b.build();
        put16(file, b.optional_header_offset(), static_cast<std::uint16_t>(magic));
        EXPECT_EQ(data_offset(file, 1), std::nullopt) << magic;
    }
}

// ---- Boundaries: exactly at the end of the file, one byte past, 0xFFFFFFFF --

// The one section's data at 0x200, then the headers at `lfanew`, so the
// section table is the last thing in the file.
PeBuilder headers_last(PeKind kind, std::uint32_t lfanew) {
    PeBuilder b(kind);
    b.lfanew(lfanew);
    b.section({.virtual_address = 0x1000, .data = filled(0x100), .raw_offset = 0x200});
    b.directory(1, 0x1000);
    return b;
}

class Boundaries : public testing::TestWithParam<PeKind> {};

TEST_P(Boundaries, ELfanew) {
    PeBuilder b = headers_last(GetParam(), 0x400);
    const Bytes exact = b.build();
    ASSERT_EQ(exact.size(), b.section_header_offset(1));  // the table ends the file
    EXPECT_EQ(data_offset(exact, 1), 0x200u);

    // The same headers one byte further on: the table's last byte is missing.
    Bytes past = headers_last(GetParam(), 0x401).build();
    past.resize(exact.size());
    EXPECT_EQ(data_offset(past, 1), std::nullopt);

    for (const std::uint32_t lfanew :
         {0xFFFFFFFFu, 0xFFFFFFF0u, 0x80000000u, static_cast<std::uint32_t>(exact.size())}) {
        Bytes far = exact;
        put32(far, 0x3C, lfanew);
        EXPECT_EQ(data_offset(far, 1), std::nullopt) << lfanew;
        EXPECT_EQ(section_offset(far, 1), std::nullopt) << lfanew;
    }
    // e_lfanew itself cut off.
    const Bytes stub(exact.begin(), exact.begin() + 0x3E);
    EXPECT_EQ(data_offset(stub, 1), std::nullopt);
}

TEST_P(Boundaries, NumberOfSections) {
    // Two sections, the directory in the second; the table ends the file.
    PeBuilder b(GetParam());
    b.lfanew(0x400);
    b.section({.virtual_address = 0x1000, .data = filled(0x100), .raw_offset = 0x200});
    b.section({.virtual_address = 0x2000, .data = filled(0x100), .raw_offset = 0x300});
    b.directory(1, 0x2000);
    const Bytes exact = b.build();
    ASSERT_EQ(exact.size(), b.section_header_offset(2));
    EXPECT_EQ(data_offset(exact, 1), 0x300u);

    Bytes short_one = exact;
    short_one.pop_back();
    EXPECT_EQ(data_offset(short_one, 1), std::nullopt);

    // More sections than the file holds: the search stops at the end of the
    // file, after finding what the headers inside it hold.
    for (const int count : {3, 0xFFFF}) {
        Bytes more = exact;
        put16(more, b.header_offset() + 6, static_cast<std::uint16_t>(count));
        EXPECT_EQ(data_offset(more, 1), 0x300u) << count;
        put32(more, b.directory_entry_offset(1), 0x5000);  // held by no section
        EXPECT_EQ(data_offset(more, 1), std::nullopt) << count;
    }
}

TEST_P(Boundaries, SectionTable) {
    if (GetParam() == PeKind::pe32) {
        // PE32's table position is fixed: cut the file at and inside it.
        const Bytes exact = headers_last(PeKind::pe32, 0x400).build();
        EXPECT_EQ(data_offset(exact, 1), 0x200u);
        const Bytes past(exact.begin(), exact.end() - 1);
        EXPECT_EQ(data_offset(past, 1), std::nullopt);
        const Bytes no_table(exact.begin(), exact.end() - 40);
        EXPECT_EQ(data_offset(no_table, 1), std::nullopt);
        return;
    }
    // PE32+ places the table by SizeOfOptionalHeader.
    PeBuilder b = headers_last(PeKind::pe32_plus, 0x400);
    const Bytes exact = b.build();
    EXPECT_EQ(data_offset(exact, 1), 0x200u);
    const std::uint32_t optional_size_at = b.header_offset() + 20;
    Bytes past = b.build();
    past.insert(past.begin() + b.section_table_offset(), 0);  // table one byte on
    past.pop_back();
    put16(past, optional_size_at, 241);
    EXPECT_EQ(data_offset(past, 1), std::nullopt);
    for (const int optional_size : {0xFFFF, 0x8000}) {
        Bytes far = exact;
        put16(far, optional_size_at, static_cast<std::uint16_t>(optional_size));
        EXPECT_EQ(data_offset(far, 1), std::nullopt) << optional_size;
    }
}

TEST_P(Boundaries, VirtualAddressPlusSizeOfRawData) {
    const struct {
        const char* what;
        std::uint32_t virtual_address;
        std::uint32_t raw_size;
        std::uint32_t rva;
        bool found;
    } cases[] = {
        {"ends at 0xFFFFFFFF", 0xFFFFF000, 0xFFF, 0xFFFFFFFE, true},
        {"ends at 0xFFFFFFFF, RVA 0xFFFFFFFF", 0xFFFFF000, 0xFFF, 0xFFFFFFFF, false},
        {"end wraps to 0", 0xFFFFF000, 0x1000, 0xFFFFF010, false},
        {"end wraps far", 0xFFFFF000, 0xFFFFFFFF, 0xFFFFF010, false},
        {"SizeOfRawData 0xFFFFFFFF from 0", 0, 0xFFFFFFFF, 0x10, true},
        {"SizeOfRawData 0xFFFFFFFF from 1", 1, 0xFFFFFFFF, 0x10, false},
    };
    for (const auto& c : cases) {
        PeBuilder b(GetParam());
        // 0x1000 bytes of data, whatever SizeOfRawData says, so that every
        // RVA found converts to a position inside the file.
        b.section(
            {.virtual_address = c.virtual_address, .data = filled(0x1000), .raw_size = c.raw_size});
        b.directory(1, c.rva);
        const Bytes file = b.build();
        const auto expected =
            c.found ? std::optional<std::size_t>(b.raw_offset(0) + (c.rva - c.virtual_address))
                    : std::nullopt;
        EXPECT_EQ(data_offset(file, 1), expected) << c.what;
    }
}

TEST_P(Boundaries, PointerToRawData) {
    PeBuilder b(GetParam());
    b.section({.virtual_address = 0x1000, .data = filled(0x100)});
    b.directory(1, 0x1000);
    const Bytes file = b.build();
    const std::uint32_t pointer_at = b.section_header_offset(0) + section_raw_offset_at;
    const auto size = static_cast<std::uint32_t>(file.size());
    const struct {
        std::uint32_t pointer;
        std::optional<std::size_t> expected;
    } cases[] = {
        {size - 1, size - 1u},  // the directory's first byte is the file's last
        {size, std::nullopt},
        {0xFFFFFFFF, std::nullopt},
        {0, 0u},
    };
    for (const auto& c : cases) {
        Bytes moved = file;
        put32(moved, pointer_at, c.pointer);
        EXPECT_EQ(data_offset(moved, 1), c.expected) << c.pointer;
        EXPECT_EQ(section_offset(moved, 1).has_value(), c.expected.has_value()) << c.pointer;
    }
}

TEST_P(Boundaries, DirectoryRvaNearTheTopOfTheAddressSpace) {
    // A section from RVA 0xFFFFFE00 to 0xFFFFFFFF whose data lies at 0x200.
    PeBuilder b(GetParam());
    b.section({.virtual_address = 0xFFFFFE00,
               .data = filled(0x101),
               .raw_offset = 0x200,
               .raw_size = 0x1FF});
    b.directory(1, 0xFFFFFF00);
    const Bytes exact = b.build();
    ASSERT_EQ(exact.size(), 0x301u);  // the directory's first byte is the last
    EXPECT_EQ(data_offset(exact, 1), 0x300u);

    const Bytes past(exact.begin(), exact.end() - 1);
    EXPECT_EQ(data_offset(past, 1), std::nullopt);

    Bytes top = exact;
    put32(top, b.directory_entry_offset(1), 0xFFFFFFFF);
    EXPECT_EQ(data_offset(top, 1), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Kinds, Boundaries, testing::Values(PeKind::pe32, PeKind::pe32_plus),
                         KindName());

TEST(FileOffset, ConversionThatWouldWrapIsNotThere) {
    const Bytes file(0x1000, 0);
    korvex::image::SectionHeader s;
    s.virtual_address = 0x1000;
    s.pointer_to_raw_data = 0x400;
    EXPECT_EQ(s.file_offset(view(file), 0x1010), 0x410u);
    EXPECT_EQ(s.file_offset(view(file), 0x0C00), 0u);  // below the section, still in the file
    EXPECT_EQ(s.file_offset(view(file), 0x0BFF), std::nullopt);  // before the file's first byte
    EXPECT_EQ(s.file_offset(view(file), 0x1BFF), 0xFFFu);
    EXPECT_EQ(s.file_offset(view(file), 0x1C00), std::nullopt);  // one past the end
    EXPECT_EQ(s.file_offset(view(file), 0x1BFE, 2), std::nullopt);
    // 32-bit arithmetic would wrap these to small offsets inside the file.
    s.virtual_address = 0;
    EXPECT_EQ(s.file_offset(view(file), 0xFFFFFF00), std::nullopt);
    EXPECT_EQ(s.file_offset(view(file), 0xFFFFFFFF, 2), std::nullopt);
    s.pointer_to_raw_data = 0xFFFFFFFF;
    EXPECT_EQ(s.file_offset(view(file), 0x10), std::nullopt);
}

TEST(DirectoryLookupDamage, HeadersCutAnywhereAnswerNullWithoutReadingPast) {
    // Every prefix of a good image: the lookup reads only what is there.
    for (const PeKind kind : {PeKind::pe32, PeKind::pe32_plus}) {
        const Bytes file = headers_last(kind, 0x400).build();
        for (std::size_t size = 0; size < file.size(); ++size) {
            // A copy of exactly `size` bytes, so that ASan sees any read past it.
            const Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
            EXPECT_EQ(data_offset(prefix, 1), std::nullopt) << size;
        }
        EXPECT_EQ(data_offset(file, 1), 0x200u);
    }
}

// Where the headers end, as the host's damage check reads them: the optional
// header at the length it states (PE32 too, unlike the lookup's section
// table) and every section header; when the file header or e_lfanew is cut
// off, as far as that much tells.
TEST(HeadersEnd, FilesCutAtEachHeaderBoundary) {
    PeBuilder b = headers_last(PeKind::pe32, 0x400);
    b.optional_header_size(0xF0);
    const Bytes whole = b.build();
    const std::size_t table_end = 0x400 + 24 + 0xF0 + 40;
    ASSERT_EQ(whole.size(), table_end);  // the section table is the file's end
    struct Case {
        const char* what;
        std::size_t size;
        std::uint64_t expected;
    } cases[] = {{"e_lfanew cut off", 0x3F, 0x40},
                 {"signature cut off", 0x402, 0x400 + 24},
                 {"file header cut off", 0x400 + 23, 0x400 + 24},
                 {"optional header cut off", 0x400 + 24, table_end},
                 {"section header cut off", table_end - 1, table_end},
                 {"headers whole", table_end, table_end}};
    for (const auto& c : cases) {
        const ExactImage cut(
            Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(c.size)));
        EXPECT_EQ(korvex::image::headers_end({cut.data(), cut.size()}), c.expected) << c.what;
    }

    // Both counts at their largest: nothing is cut to 16 or 32 bits.
    Bytes largest = whole;
    put16(largest, 0x400 + 6, 0xFFFF);
    put16(largest, 0x400 + 20, 0xFFFF);
    EXPECT_EQ(korvex::image::headers_end(view(largest)), 0x400 + 24 + 0xFFFFu + 40 * 0xFFFFu);
}

}  // namespace
}  // namespace korvex::test
