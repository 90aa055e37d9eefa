// What inspect --headers reads beside the headers: the manifest reader's
// facts and verdicts, the resource tree's bounds, the version and debug
// records, over images and texts made in memory.
#include <gtest/gtest.h>

#include "bytes.h"
#include "inspect/image_facts.h"
#include "pe/manifest.h"
#include "pe/resource_tree.h"
#include "pe_builder.h"

namespace korvex::test {
namespace {

const std::string root =
    R"(<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">)";
std::string wrap(const std::string& body) { return root + body + "</assembly>"; }

host::HeaderFacts facts_of(const Bytes& image) {
    return host::read_header_facts(image::PeImage::parse({image.data(), image.size()}));
}

TEST(ManifestReader, ReadsWhatUsersLookUp) {
    const auto facts =
        host::parse_manifest("\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- x -->" + wrap(R"(
  <assemblyIdentity name="Korvex.App" version="1.2.3.4" type="win32"/>
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security><requestedPrivileges>
    <requestedExecutionLevel level="requireAdministrator" uiAccess='false'/>
  </requestedPrivileges></security></trustInfo>
  <dependency><dependentAssembly><assemblyIdentity type="win32" name="Microsoft.VC90.CRT"
    version="9.0.21022.8" processorArchitecture="x86" publicKeyToken="1fc8b3b9a1e18e3b"/>
  </dependentAssembly></dependency>
  <application><windowsSettings>
    <dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings"> true/pm </dpiAware>
    <w:dpiAwareness xmlns:w="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2</w:dpiAwareness>
    <longPathAware><![CDATA[true]]></longPathAware>
  </windowsSettings></application>
  <compatibility><application><supportedOS Id="{8E0F7A12-BFB3-4FE8-B9A5-48FD50A15A9A}"/>
    <supportedOS Id="{00000000-0000-0000-0000-000000000000}"/></application></compatibility>
  <file name="a&amp;b&#x2E;dll"/>)"));
    ASSERT_EQ(facts.dependencies.size(), 1u);
    ASSERT_EQ(facts.supported_os.size(), 2u);
    EXPECT_EQ(facts.problem + "|" + facts.identity.name + "|" + facts.execution_level + "|" +
                  facts.ui_access + "|" + facts.dependencies[0].public_key_token + "|" +
                  facts.dependencies[0].version + "|" + facts.dpi_aware + "|" +
                  facts.dpi_awareness + "|" + facts.long_path_aware + "|" +
                  host::supported_os_name(facts.supported_os[0]) + "|" +
                  host::supported_os_name(facts.supported_os[1]) + "|" + facts.files.at(0),
              "|Korvex.App|requireAdministrator|false|1fc8b3b9a1e18e3b|9.0.21022.8|true/pm|"
              "PerMonitorV2|true|Windows 10 and 11||a&b.dll");
}

TEST(ManifestReader, ReadsUtf16InEitherOrder) {
    const std::string text = wrap("<file name=\"\xC3\xA9.dll\"/>");
    for (const bool big_endian : {false, true}) {
        std::string utf16 = big_endian ? "" : "\xFF\xFE";
        for (std::size_t i = 0; i < text.size(); ++i) {
            // The one non-ASCII character, U+00E9, from its two UTF-8 bytes.
            const char unit = text[i] == '\xC3' ? '\xE9' : text[i];
            if (text[i] == '\xA9') continue;
            utf16 += big_endian ? std::string{'\0', unit} : std::string{unit, '\0'};
        }
        EXPECT_EQ(host::parse_manifest(utf16).files, std::vector<std::string>{"\xC3\xA9.dll"});
    }
}

TEST(ManifestReader, SaysWhyTheLoaderRejectsAManifest) {
    std::string deep;
    for (int i = 0; i < 64; ++i) deep = "<a>" + deep + "</a>";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "line 1: there is no root element"},
        {R"(<assembly xmlns="urn:x" manifestVersion="1.0"/>)", "root element is not an assembly"},
        {R"(<assembly xmlns="urn:schemas-microsoft-com:asm.v1"/>)", "manifestVersion is not 1.0"},
        {"\n\n" + wrap("<a></b>"), "line 3: </b> closes <a>"},
        {wrap("<!-- x"), "a comment is not closed"},
        {"<!DOCTYPE x>" + wrap(""), "DOCTYPE"},
        {wrap("<a b=\"&nbsp;\"/>"), "an unknown entity &nbsp;"},
        {wrap("<a b=\"&#xD800;\"/>"), "a bad character reference"},
        {wrap("<a b=\"1\" b=\"2\"/>"), "attribute b appears twice"},
        {wrap("<a b=1/>"), "attribute b's value is not quoted"},
        {wrap("<a b=\"1\"c=\"2\"/>"), "attributes of <a> run together"},
        {wrap("<p:a/>"), "prefix p of <p:a> is not declared"},
        {wrap("") + "x", "text outside the root element"},
        {wrap("") + wrap(""), "a second root element"},
        {root + "<a>", "<a> is not closed"},
        {wrap(std::string("<a>x\0y</a>", 10)), "a NUL character"},
        {wrap(deep), "elements nested deeper than 64 levels"},
    };
    for (const auto& [text, problem] : cases) {
        SCOPED_TRACE(text);
        EXPECT_NE(host::parse_manifest(text).problem.find(problem), std::string::npos)
            << host::parse_manifest(text).problem;
    }
}

ResourceData app_resources(const std::string& manifest = wrap("")) {
    return resource_data(
        0x1000, {{24, 1, 0x409, Bytes(manifest.begin(), manifest.end())},
                 {16, 1, 0x409,
                  version_record(0x0001000200030004, 0x0001000200000000, "040904b0",
                                 {{"CompanyName", "Korvex"}, {"OriginalFilename", "app.exe"}})}});
}

TEST(ResourceTree, GivesTheManifestAndTheVersionRecord) {
    const ResourceData data = app_resources(wrap(R"(<trustInfo><security><requestedPrivileges>
        <requestedExecutionLevel level="asInvoker"/></requestedPrivileges></security></trustInfo>)"));
    // The directory's size does not count: the loader reads a size of 0 too.
    for (const auto size : {static_cast<std::uint32_t>(data.bytes.size()), 0u}) {
        const auto facts =
            facts_of(image_with_directory(host::resource_directory, data.bytes, size));
        ASSERT_TRUE(facts.manifest && facts.version) << size;
        const host::VersionRecord& version = *facts.version;
        EXPECT_EQ(facts.resource_damage + "|" + std::to_string(facts.manifest_id) + "|" +
                      facts.manifest->execution_level + "|" + version.file_version + "|" +
                      version.product_version + "|" + version.language + "|" +
                      version.company_name + "|" + version.original_filename + "|" + version.damage,
                  "|1|asInvoker|1.2.3.4|1.2.0.0|040904b0|Korvex|app.exe|");
    }
}

TEST(ResourceTree, ReportsDamageInsteadOfFollowingIt) {
    enum Field { root_target, leaf_target, manifest_rva, manifest_size, counts, version_block };
    const std::vector<std::tuple<const char*, Field, std::uint32_t, const char*>> cases = {
        {"a type entry without names", root_target, 0x40, "a type entry holds data"},
        {"a directory past the section", root_target, 0x80100000u, "a directory lies outside"},
        {"a fourth level", leaf_target, 0x80000000u, "deeper than the three levels"},
        {"a data entry past the section", leaf_target, 0x100000, "a data entry lies outside"},
        {"more entries than a file may hold", counts, 0xFFFFFFFF, "more than 65,536 entries"},
        {"a manifest over 1 MiB", manifest_size, 2u << 20, "larger than 1 MiB"},
        {"a manifest outside the file", manifest_rva, 0x90000, "it lies outside the file"},
        {"a version block past its record", version_block, 0x7FFF, "a block runs past the record"},
    };
    for (const auto& [what, field, value, damage] : cases) {
        SCOPED_TRACE(what);
        ResourceData data = app_resources();
        Bytes& bytes = data.bytes;
        const image::ByteView view(bytes.data(), bytes.size());
        // A version record's StringFileInfo block starts 92 bytes into it.
        const std::uint32_t at[] = {20,
                                    data.language_directory_at[0] + 20,
                                    data.data_entry_at[0],
                                    data.data_entry_at[0] + 4,
                                    12,
                                    *view.u32(data.data_entry_at[1]) - 0x1000 + 92};
        put32(bytes, at[field], value);
        const auto facts = facts_of(image_with_directory(host::resource_directory, bytes,
                                                         static_cast<std::uint32_t>(bytes.size())));
        const std::string said = facts.resource_damage + "|" +
                                 (facts.manifest ? facts.manifest->problem : "") + "|" +
                                 (facts.version ? facts.version->damage : "");
        EXPECT_NE(said.find(damage), std::string::npos) << said;
    }
}

TEST(DebugRecord, GivesTheSymbolServerKeyAndTypeNames) {
    Bytes data;
    const std::uint32_t codeview_at = 3 * host::debug_entry_size;
    const std::uint32_t types[] = {2, 13, 99};
    for (std::uint32_t i = 0; i < 3; ++i) put32(data, i * host::debug_entry_size + 12, types[i]);
    put32(data, 16, 24 + 6);                // SizeOfData
    put32(data, 20, 0x1000 + codeview_at);  // AddressOfRawData; PointerToRawData 0
    put_string(data, codeview_at, "RSDS");
    std::uint8_t guid[16];
    for (std::uint8_t i = 0; i < 16; ++i) guid[i] = static_cast<std::uint8_t>(i * 17);
    put_bytes(data, codeview_at + 4, guid, sizeof guid);
    put32(data, codeview_at + 20, 0x2A);
    put_string(data, codeview_at + 24, "a.pdb");
    const auto facts = facts_of(image_with_directory(host::debug_directory, data, codeview_at));
    ASSERT_EQ(facts.debug.entries.size(), 3u);
    const host::DebugEntry& entry = facts.debug.entries[0];
    EXPECT_EQ(entry.guid + " " + std::to_string(entry.age) + " " + entry.pdb_path + " " +
                  entry.symbol_key + " " + facts.debug.entries[1].type_name + ", " +
                  facts.debug.entries[2].type_name,
              "33221100-5544-7766-8899-AABBCCDDEEFF 42 a.pdb 33221100554477668899AABBCCDDEEFF2A "
              "POGO, type 99");
    EXPECT_EQ(facts.debug.damage, "");

    put32(data, 24, 0x7FFFFFFF);  // PointerToRawData past the file
    EXPECT_EQ(facts_of(image_with_directory(host::debug_directory, data, codeview_at)).debug.damage,
              "its CodeView record lies outside the file");
}

}  // namespace
}  // namespace korvex::test
