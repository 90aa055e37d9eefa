#include "inspect/image_facts.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "core/text.h"
#include "image_readers/export_table.h"
#include "image_readers/pe_image.h"

namespace korvex::host {

namespace {

constexpr std::uint16_t file_is_dll = 0x2000;

struct Named {
    std::uint16_t value;
    const char* name;
};

// The names Microsoft's PE format reference gives, as tools show them.
constexpr Named subsystems[] = {
    {1, "native"},
    {2, "GUI"},
    {3, "console"},
    {5, "OS/2 console"},
    {7, "POSIX console"},
    {8, "native Windows 9x driver"},
    {9, "Windows CE GUI"},
    {10, "EFI application"},
    {11, "EFI boot service driver"},
    {12, "EFI runtime driver"},
    {13, "EFI ROM"},
    {14, "Xbox"},
    {16, "Windows boot application"},
};

constexpr Named dll_characteristics[] = {
    {0x0020, "high-entropy ASLR"},
    {0x0040, "ASLR"},
    {0x0080, "forced integrity"},
    {0x0100, "DEP"},
    {0x0200, "no isolation"},
    {0x0400, "no SEH"},
    {0x0800, "no bind"},
    {0x1000, "AppContainer"},
    {0x2000, "WDM driver"},
    {0x4000, "CFG"},
    {0x8000, "terminal-server aware"},
};

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

}  // namespace

HeaderFacts read_header_facts(const image::PeImage& map) {
    const image::ImageFacts fields = image::read_image_facts(map.file(), map.layout());
    HeaderFacts facts;
    facts.dll = (fields.characteristics & file_is_dll) != 0;
    facts.subsystem = fields.subsystem;
    facts.dll_characteristics = fields.dll_characteristics;
    facts.time_stamp = fields.time_stamp;
    facts.entry_point = fields.entry_point;
    facts.image_size = fields.size_of_image;
    const auto clr = map.directory(image::clr_runtime_directory);
    facts.dotnet = clr && clr->rva != 0;
    facts.image_end = map.check().image_end;
    facts.padding_end = map.check().padding_end;
    facts.file_size = map.file().size();
    return facts;
}

std::uint64_t HeaderFacts::padding() const {
    const std::uint64_t end = std::min(file_size, padding_end);
    return end > image_end ? end - image_end : 0;
}

std::uint64_t HeaderFacts::after_image() const {
    const std::uint64_t end = std::max(image_end, padding_end);
    return file_size > end ? file_size - end : 0;
}

std::string subsystem_name(std::uint16_t subsystem) {
    for (const auto& named : subsystems)
        if (named.value == subsystem) return named.name;
    return "subsystem " + std::to_string(subsystem);
}

std::vector<std::string> dll_characteristic_names(std::uint16_t flags) {
    std::vector<std::string> names;
    for (const auto& named : dll_characteristics)
        if ((flags & named.value) != 0) names.emplace_back(named.name);
    return names;
}

std::string time_stamp_text(std::uint32_t seconds) {
    if (seconds == 0) return {};
    // The civil date of a day count since 1970-01-01 (the proleptic
    // Gregorian calendar, counted in 400-year eras from 0000-03-01), so that
    // no C runtime's time zone or 32-bit time_t is involved.
    const std::int64_t days = seconds / 86400 + 719468;
    const std::int64_t era = days / 146097;
    const std::int64_t day_of_era = days - era * 146097;
    const std::int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t month_index = (5 * day_of_year + 2) / 153;
    const std::int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
    const std::int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
    const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    const std::uint32_t in_day = seconds % 86400;
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02u:%02u:%02u UTC",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), in_day / 3600, in_day / 60 % 60, in_day % 60);
    return text;
}

std::string header_facts_text(const HeaderFacts& facts) {
    std::string text = std::string("  ") + (facts.dll ? "DLL" : "program") + ", " +
                       subsystem_name(facts.subsystem) + ", entry point " + hex(facts.entry_point) +
                       ", image size " + with_thousands(facts.image_size) + " bytes\n";
    const std::string built = time_stamp_text(facts.time_stamp);
    text += "  time stamp " + hex(facts.time_stamp) + (built.empty() ? "" : " (" + built + ")");
    if (facts.dotnet) text += ", .NET assembly";
    text += "\n  DLL characteristics:";
    const auto names = dll_characteristic_names(facts.dll_characteristics);
    for (std::size_t i = 0; i < names.size(); ++i) text += (i == 0 ? " " : ", ") + names[i];
    if (names.empty()) text += " none";
    text += "\n";
    if (facts.padding() > 0)
        text += "  " + with_thousands(facts.padding()) +
                " bytes of padding after the last section (to FileAlignment)\n";
    if (facts.after_image() > 0)
        text +=
            "  " + with_thousands(facts.after_image()) +
            " bytes after the image (not loaded: symbols, a signature or an appended payload)\n";
    return text;
}

nlohmann::json header_facts_json(const HeaderFacts& facts) {
    const std::string built = time_stamp_text(facts.time_stamp);
    return {{"dll", facts.dll},
            {"subsystem", facts.subsystem},
            {"subsystem_name", subsystem_name(facts.subsystem)},
            {"dll_characteristics", facts.dll_characteristics},
            {"dll_characteristic_names", dll_characteristic_names(facts.dll_characteristics)},
            {"time_stamp", facts.time_stamp},
            {"built", built.empty() ? nlohmann::json(nullptr) : nlohmann::json(built)},
            {"entry_point", facts.entry_point},
            {"image_size", facts.image_size},
            {"dotnet", facts.dotnet},
            {"image_end", facts.image_end},
            {"padding", facts.padding()},
            {"after_image", facts.after_image()}};
}

std::vector<ExportEntry> read_export_entries(const image::PeImage& image, std::size_t limit) {
    const auto table = image::read_export_table(image);
    if (!table) return {};
    // The first name of each slot, as the loader would find it by name.
    std::unordered_map<std::uint32_t, std::string> names;
    image::ExportNameWalk walk(image, *table);
    while (const auto name = walk.next()) {
        if (names.size() == limit) break;
        names.emplace(name->slot, std::string(name->name));
    }
    std::vector<ExportEntry> entries;
    // Each slot is 4 bytes of the file: a count beyond that holds nothing more.
    const std::uint64_t slots =
        std::min<std::uint64_t>(table->function_count, image.file().size() / 4 + 1);
    for (std::uint32_t slot = 0; slot < slots && entries.size() < limit; ++slot) {
        const auto target = image::export_target(image, *table, slot);
        // A slot that holds nothing ends no walk: tables have gaps between ordinals.
        if (target.kind == image::ExportTarget::Kind::none) continue;
        ExportEntry entry;
        entry.ordinal = table->ordinal_base + slot;
        if (const auto found = names.find(slot); found != names.end()) entry.name = found->second;
        entry.forwarder = std::string(target.forwarder);
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace korvex::host
