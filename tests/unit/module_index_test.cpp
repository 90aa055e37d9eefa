// GetImportFuncNamesByModulePE finds the module through the held image's
// module index. Its answers must be those of the walk from the first
// descriptor (unindexed_imports.h) for every request, in any order, and a
// file's lookups together must walk its descriptors once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bytes.h"
#include "image/module_index.h"
#include "korvex32.h"
#include "pe_builder.h"
#include "temp_dir.h"
#include "unindexed_imports.h"

namespace korvex::test {
namespace {

struct Answer {
    std::int32_t query = 0;
    std::int32_t fill = 0;
    std::vector<char> buffer;  // the request after the fill
    bool operator==(const Answer&) const = default;
};

// The request "0" + name, then the fill request "1" + name in a buffer of
// room for the answered size (and at least the request).
template <typename List>
Answer ask(List list, const std::string& name) {
    Answer answer;
    std::vector<char> request(name.size() + 2, '\0');
    request[0] = '0';
    std::copy(name.begin(), name.end(), request.begin() + 1);
    answer.query = list(request.data());
    request.resize(std::max<std::size_t>(request.size(),
                                         static_cast<std::size_t>(std::max(answer.query, 0)) + 8),
                   '\x5A');
    request[0] = '1';
    answer.fill = list(request.data());
    answer.buffer = request;
    return answer;
}

// The held image's answer through the export, and the answer of the walk
// from the first descriptor over the same bytes.
Answer held(const std::string& name) { return ask(GetImportFuncNamesByModulePE, name); }
Answer walked(const Bytes& image, const std::string& name) {
    const image::ByteView file(image.data(), image.size());
    return ask([&](char* request) { return list_functions_walked(file, request); }, name);
}

class ModuleIndexTest : public testing::Test {
protected:
    void TearDown() override { UnmapFile(0); }

    // Lists the held image's modules as a host does first (size query, then
    // the fill), which indexes them as it goes, and checks the list against
    // the walk from the first descriptor.
    static void list_modules_first(const Bytes& image) {
        const std::int32_t size = GetImportModuleNamesPE(nullptr);
        std::vector<char> held_list(static_cast<std::size_t>(std::max(size, 1)), '\x5A');
        ASSERT_EQ(GetImportModuleNamesPE(held_list.data()), size);
        const image::ByteView file(image.data(), image.size());
        std::vector<char> walked_list(held_list.size(), '\x5A');
        ASSERT_EQ(list_modules_walked(file, walked_list.data()), size);
        EXPECT_EQ(held_list, walked_list);
    }

    // Writes the image and maps it (a file still held cannot be rewritten on
    // Windows, so it is let go first).
    void hold(const Bytes& image, const char* name = "held.dll") {
        UnmapFile(0);
        ASSERT_EQ(MapFile(dir_.write(name, image).c_str()), KORVEX_IMAGE_PE);
    }

    TempDir dir_;
};

// Several modules of one name (the first counts), names that differ only in
// case or length, a module without a lookup table, and names not imported.
std::vector<ImportSpec> tricky_modules() {
    return {
        {"KERNEL32.dll", {by_name("CreateFileA"), by_ordinal(7)}},
        {"USER32.dll", {by_name("MessageBoxA")}},
        {"kernel32.dll", {by_name("LowerCaseTwin")}},
        {"KERNEL32.dll", {by_name("SecondOfTheSameName")}},
        {"EMPTY.dll", {}, false},
        {"KERNEL32.dl", {by_ordinal(65535)}},
        {"", {by_name("NamelessModule")}},
        {"USER32.dll", {by_name("LaterUser32")}},
        {"GDI32.dll", {by_name("BitBlt"), by_name("TextOutA")}},
    };
}

const std::vector<std::string> tricky_requests = {
    "KERNEL32.dll", "USER32.dll", "kernel32.dll", "EMPTY.dll", "KERNEL32.dl", "",
    "GDI32.dll",    "ABSENT.dll", "KERNEL32.DLL", "GDI32.dl",  "GDI32.dll.",  "USER32.dll",
};

TEST_F(ModuleIndexTest, AnswersAsTheWalkFromTheFirstDescriptorInAnyOrder) {
    for (const PeKind kind : {PeKind::pe32, PeKind::pe32_plus}) {
        const Bytes image = pe_image(kind, tricky_modules());
        std::vector<std::string> requests = tricky_requests;
        for (int order = 0; order < 4; ++order) {
            hold(image);
            if (order == 1) std::reverse(requests.begin(), requests.end());
            if (order == 2) std::rotate(requests.begin(), requests.begin() + 5, requests.end());
            if (order == 3) list_modules_first(image);
            for (const std::string& name : requests) {
                // Twice each: the second is answered from the index.
                EXPECT_EQ(held(name), walked(image, name)) << "'" << name << "', order " << order;
                EXPECT_EQ(held(name), walked(image, name)) << "'" << name << "', again";
            }
        }
    }
}

TEST_F(ModuleIndexTest, TheFirstModuleOfANameIsListedWhicheverIsAskedFirst) {
    hold(pe_image(PeKind::pe32, tricky_modules()));
    // Asking for a later name first walks past the second KERNEL32.dll.
    EXPECT_GT(held("GDI32.dll").fill, 0);
    const Answer kernel = held("KERNEL32.dll");
    EXPECT_EQ(kernel.fill, 12 + 6 + 1);  // "CreateFileA", "    7"
    EXPECT_EQ(std::string(kernel.buffer.data()), "CreateFileA");
    const Answer user = held("USER32.dll");
    EXPECT_EQ(std::string(user.buffer.data()), "MessageBoxA");
}

// Descriptors changed after the index has walked past them stand for bytes
// it does not read again, and changes ahead of the walk for bytes it has not
// read yet. (A held file's bytes never change; a walk that sees them change
// is a walk that read them again, or early.) Fewer modules than widen the
// index's first slots, which indexes the modules passed again.
TEST(ModuleIndex, ALookupWalksOnlyAsFarAsItsModuleAndNeverFromTheFirstAgain) {
    std::vector<ImportSpec> modules;
    for (std::uint32_t i = 0; i < image::ModuleIndex::first_slots / 2; ++i)
        modules.push_back({"M" + std::to_string(i) + ".dll", {by_name("F")}});
    const std::uint32_t import_rva = 0x1000;
    const ImportData data = import_data(PeKind::pe32, import_rva, modules);
    PeBuilder builder;
    builder.directory(image::import_directory, import_rva + data.directory_at);
    builder.section({.virtual_address = import_rva, .data = data.bytes});
    Bytes bytes = builder.build();
    const auto end_imports_at = [&](std::size_t module) {
        put32(bytes, builder.raw_offset(0) + data.descriptor_at[module] + descriptor_name_at, 0);
    };
    const image::ByteView file(bytes.data(), bytes.size());
    const auto imports = image::find_directory(file, image::import_directory);
    ASSERT_TRUE(imports);
    const auto index = std::make_unique<image::ModuleIndex>();
    const auto find = [&](const std::string& name) {
        const auto module = index->find(file, *imports, name.data(), name.size());
        return module
                   ? std::string(reinterpret_cast<const char*>(module->name), module->name_length)
                   : std::string("(none)");
    };

    EXPECT_EQ(find("M9.dll"), "M9.dll");
    for (std::size_t i = 0; i <= 9; ++i) end_imports_at(i);
    EXPECT_EQ(find("M3.dll"), "M3.dll") << "passed: found without a walk";
    EXPECT_EQ(find("M12.dll"), "M12.dll") << "the walk goes on after M9.dll";
    end_imports_at(14);
    EXPECT_EQ(find("M20.dll"), "(none)") << "M14.dll onwards not passed before";
    EXPECT_EQ(find("M13.dll"), "M13.dll");
}

TEST_F(ModuleIndexTest, MoreModulesThanTheIndexHoldsStillFindEachFirstOfItsName) {
    // Past the index's room the names repeat: each must still answer the
    // first module of its name, which the index holds.
    const std::uint32_t room = image::ModuleIndex::module_capacity;
    std::vector<ImportSpec> modules;
    for (std::uint32_t i = 0; i < room + 500; ++i) {
        const std::uint32_t n = i < room + 250 ? i : i - 300;
        modules.push_back({"MOD" + std::to_string(n) + ".DLL", {by_name("F" + std::to_string(i))}});
    }
    const Bytes image = pe_image(PeKind::pe32, modules);
    std::vector<std::string> requests;
    for (std::uint32_t i = 0; i < room + 260; i += 7)
        requests.push_back("MOD" + std::to_string(i) + ".DLL");
    requests.push_back("MOD" + std::to_string(room + 100) + ".DLL");
    requests.push_back("MOD" + std::to_string(room - 1) + ".DLL");
    requests.push_back("ABSENT.DLL");
    // The module list indexes as far as the index's room and lists the rest.
    for (const bool listed_first : {false, true}) {
        hold(image);
        if (listed_first) list_modules_first(image);
        for (const std::string& name : requests) EXPECT_EQ(held(name), walked(image, name)) << name;
        std::reverse(requests.begin(), requests.end());
        for (const std::string& name : requests) EXPECT_EQ(held(name), walked(image, name)) << name;
    }
}

TEST_F(ModuleIndexTest, TablesThatStartInsideAnotherAnswerAsTheWalk) {
    // One long table; the descriptors after the first point into it, on an
    // entry, between two entries, at its terminator and before it.
    for (const PeKind kind : {PeKind::pe32, PeKind::pe32_plus}) {
        const std::uint32_t entry = kind == PeKind::pe32 ? 4 : 8;
        std::vector<ImportSpec> modules = {{"LONG.DLL", {}}};
        for (int i = 0; i < 3000; ++i)
            modules[0].functions.push_back(i % 3 ? by_name("Fn" + std::to_string(i))
                                                 : by_ordinal(static_cast<std::uint16_t>(i)));
        const std::vector<std::int64_t> starts = {
            entry,        entry * 5,    entry * 5,     entry * 2,
            entry * 2999, entry * 3000, entry * 7 + 2, -static_cast<std::int64_t>(entry)};
        for (std::size_t i = 0; i < starts.size(); ++i)
            modules.push_back({"IN" + std::to_string(i) + ".DLL", {by_name("Own")}});
        const std::uint32_t import_rva = 0x1000;
        ImportData data = import_data(kind, import_rva, modules);
        for (std::size_t i = 0; i < starts.size(); ++i)
            put32(data.bytes, data.descriptor_at[i + 1] + descriptor_lookup_table_at,
                  static_cast<std::uint32_t>(import_rva + data.table_at[0] + starts[i]));
        PeBuilder builder(kind);
        builder.directory(1, import_rva + data.directory_at);
        builder.section({.virtual_address = import_rva, .data = data.bytes});
        const Bytes image = builder.build();
        hold(image, kind == PeKind::pe32 ? "inside32.dll" : "inside64.dll");
        std::vector<std::string> names = {"LONG.DLL"};
        for (std::size_t i = 0; i < starts.size(); ++i)
            names.push_back("IN" + std::to_string(i) + ".DLL");
        for (int pass = 0; pass < 2; ++pass) {
            for (const std::string& name : names)
                EXPECT_EQ(held(name), walked(image, name)) << name << ", pass " << pass;
            std::reverse(names.begin(), names.end());
        }
        EXPECT_EQ(held("IN1.DLL").fill, held("IN2.DLL").fill);

        // A fill that follows the size query of another module.
        const Answer expected = walked(image, "IN3.DLL");
        std::string query = "0LONG.DLL";
        EXPECT_GT(GetImportFuncNamesByModulePE(query.data()), 0);
        std::vector<char> fill(expected.buffer.size(), '\x5A');
        std::memcpy(fill.data(), "1IN3.DLL", 9);
        EXPECT_EQ(GetImportFuncNamesByModulePE(fill.data()), expected.fill);
        EXPECT_EQ(fill, expected.buffer);
    }
}

TEST_F(ModuleIndexTest, MappingAnotherFileOrNoneForgetsTheModules) {
    const Bytes first =
        pe_image(PeKind::pe32, {{"A.dll", {by_name("FromFirst")}}, {"B.dll", {by_name("B1")}}});
    const Bytes second =
        pe_image(PeKind::pe32, {{"B.dll", {by_name("FromSecond")}}, {"A.dll", {by_ordinal(3)}}});
    hold(first, "first.dll");
    EXPECT_EQ(std::string(held("B.dll").buffer.data()), "B1");
    hold(second, "second.dll");
    EXPECT_EQ(held("B.dll"), walked(second, "B.dll"));
    EXPECT_EQ(held("A.dll"), walked(second, "A.dll"));
    UnmapFile(0);
    EXPECT_EQ(held("A.dll").fill, 0);
    hold(first, "first.dll");
    EXPECT_EQ(held("A.dll"), walked(first, "A.dll"));
}

}  // namespace
}  // namespace korvex::test
