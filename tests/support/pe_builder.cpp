#include "pe_builder.h"

#include <algorithm>

#include "bytes.h"

namespace korvex::test {

namespace {

constexpr std::uint32_t file_alignment = 0x200;
constexpr std::uint32_t section_alignment = 0x1000;
constexpr std::uint32_t section_header_size = 40;
constexpr std::uint32_t directory_entry_size = 8;

std::uint32_t align_up(std::uint64_t value, std::uint32_t alignment) {
    return static_cast<std::uint32_t>((value + alignment - 1) / alignment * alignment);
}

// Field offsets from the optional header's first byte.
struct OptionalLayout {
    std::uint16_t magic;
    std::uint16_t standard_size;  // with 16 directory entries
    std::uint32_t directory_count_at;
    std::uint32_t directories_at;
};
constexpr OptionalLayout pe32_layout{0x10B, 224, 92, 96};
constexpr OptionalLayout pe32_plus_layout{0x20B, 240, 108, 112};

const OptionalLayout& layout_of(PeKind kind) {
    return kind == PeKind::pe32 ? pe32_layout : pe32_plus_layout;
}

}  // namespace

PeBuilder::PeBuilder(PeKind kind) : kind_(kind) {}

PeBuilder& PeBuilder::lfanew(std::uint32_t offset) {
    lfanew_ = offset;
    return *this;
}
PeBuilder& PeBuilder::optional_header_size(std::uint16_t size) {
    optional_header_size_ = size;
    return *this;
}
PeBuilder& PeBuilder::section_table_at(std::uint32_t offset) {
    section_table_at_ = offset;
    return *this;
}
PeBuilder& PeBuilder::directory_count(std::uint32_t count) {
    directory_count_ = count;
    return *this;
}
PeBuilder& PeBuilder::directory(std::uint32_t index, std::uint32_t rva, std::uint32_t size) {
    directories_.push_back({index, rva, size});
    return *this;
}
PeBuilder& PeBuilder::section_count(std::uint16_t count) {
    section_count_ = count;
    return *this;
}
PeBuilder& PeBuilder::section(SectionSpec layout) {
    sections_.push_back(std::move(layout));
    return *this;
}

std::uint16_t PeBuilder::optional_size() const {
    return optional_header_size_.value_or(layout_of(kind_).standard_size);
}

std::uint32_t PeBuilder::directory_entry_offset(std::uint32_t index) const {
    return optional_header_offset() + layout_of(kind_).directories_at +
           index * directory_entry_size;
}

std::uint32_t PeBuilder::section_table_offset() const {
    return section_table_at_.value_or(optional_header_offset() + optional_size());
}

std::uint32_t PeBuilder::section_header_offset(std::size_t index) const {
    return section_table_offset() + static_cast<std::uint32_t>(index) * section_header_size;
}

std::uint32_t PeBuilder::raw_offset(std::size_t index) const {
    if (sections_[index].raw_offset) return *sections_[index].raw_offset;
    std::uint64_t end = std::max<std::uint64_t>(
        section_header_offset(sections_.size()),
        optional_header_offset() + std::uint64_t{layout_of(kind_).standard_size});
    for (std::size_t i = 0; i < index; ++i)
        end = std::max<std::uint64_t>(end, std::uint64_t{raw_offset(i)} + sections_[i].data.size());
    return align_up(end, file_alignment);
}

Bytes PeBuilder::build() const {
    const auto& layout = layout_of(kind_);
    Bytes out(0x40, 0);
    out[0] = 'M';
    out[1] = 'Z';
    put32(out, 0x3C, lfanew_);

    const std::uint32_t h = lfanew_;
    put32(out, h, 0x00004550);
    put16(out, h + 4, kind_ == PeKind::pe32 ? 0x014C : 0x8664);
    put16(out, h + 6, section_count_.value_or(static_cast<std::uint16_t>(sections_.size())));
    put16(out, h + 20, optional_size());
    put16(out, h + 22, kind_ == PeKind::pe32 ? 0x0102 : 0x0022);

    const std::uint32_t o = optional_header_offset();
    put16(out, o, layout.magic);
    put32(out, o + 32, section_alignment);
    put32(out, o + 36, file_alignment);
    std::uint32_t image_end = section_alignment;
    for (const auto& s : sections_)
        image_end = std::max(
            image_end,
            align_up(std::uint64_t{s.virtual_address} +
                         s.virtual_size.value_or(static_cast<std::uint32_t>(s.data.size())),
                     section_alignment));
    put32(out, o + 56, image_end);       // SizeOfImage
    put32(out, o + 60, file_alignment);  // SizeOfHeaders
    put16(out, o + 68, 3);               // console subsystem
    put32(out, o + layout.directory_count_at, directory_count_);
    // The 16 standard entries are there, zero unless set.
    if (out.size() < o + std::uint64_t{layout.standard_size}) out.resize(o + layout.standard_size);
    for (const auto& d : directories_) {
        put32(out, directory_entry_offset(d.index), d.rva);
        put32(out, directory_entry_offset(d.index) + 4, d.size);
    }

    for (std::size_t i = 0; i < sections_.size(); ++i) {
        const auto& s = sections_[i];
        const std::uint32_t at = section_header_offset(i);
        const std::string name = s.name.empty() ? ".s" + std::to_string(i) : s.name;
        put_bytes(out, at, name.data(), std::min<std::size_t>(name.size(), 8));
        const std::uint32_t raw_size =
            s.raw_size.value_or(static_cast<std::uint32_t>(s.data.size()));
        put32(out, at + 8, s.virtual_size.value_or(raw_size));
        put32(out, at + section_virtual_address_at, s.virtual_address);
        put32(out, at + section_raw_size_at, raw_size);
        put32(out, at + section_raw_offset_at, raw_offset(i));
        put32(out, at + 36, 0x40000040);  // initialised data, readable
    }
    for (std::size_t i = 0; i < sections_.size(); ++i)
        if (!sections_[i].data.empty())
            put_bytes(out, raw_offset(i), sections_[i].data.data(), sections_[i].data.size());
    return out;
}

ImportData import_data(PeKind kind, std::uint32_t section_rva,
                       const std::vector<ImportSpec>& modules, const ImportLayout& layout) {
    const std::uint32_t entry_size = kind == PeKind::pe32 ? 4 : 8;
    ImportData result;
    result.table_at.resize(modules.size());
    result.module_name_at.resize(modules.size());
    result.hint_name_at.resize(modules.size());
    Bytes& out = result.bytes;

    // First place every part, then fill in the references between them.
    std::uint32_t at = 0;
    for (const ImportPart part : layout.order) {
        switch (part) {
            case ImportPart::descriptors:
                result.directory_at = at;
                for (std::size_t i = 0; i < modules.size(); ++i, at += descriptor_size)
                    result.descriptor_at.push_back(at);
                if (layout.descriptor_terminator) at += descriptor_size;
                break;
            case ImportPart::tables:
                for (std::size_t i = 0; i < modules.size(); ++i) {
                    result.table_at[i] = at;
                    const std::size_t entries =
                        modules[i].functions.size() + (layout.table_terminators ? 1 : 0);
                    at += static_cast<std::uint32_t>(entries) * entry_size;
                }
                break;
            case ImportPart::hint_names:
                for (std::size_t i = 0; i < modules.size(); ++i) {
                    for (const auto& f : modules[i].functions) {
                        if (f.by_ordinal) continue;
                        result.hint_name_at[i].push_back(at);
                        put16(out, at, f.hint);
                        put_string(out, at + 2, f.name);
                        at += static_cast<std::uint32_t>(2 + f.name.size() + 1);
                    }
                }
                break;
            case ImportPart::module_names:
                for (std::size_t i = 0; i < modules.size(); ++i) {
                    result.module_name_at[i] = at;
                    put_string(out, at, modules[i].module);
                    at += static_cast<std::uint32_t>(modules[i].module.size() + 1);
                }
                break;
        }
    }
    out.resize(std::max<std::size_t>(out.size(), at), 0);

    for (std::size_t i = 0; i < modules.size(); ++i) {
        const auto& m = modules[i];
        const std::uint32_t table = result.table_at[i];
        std::size_t named = 0;
        for (std::size_t f = 0; f < m.functions.size(); ++f) {
            const auto& fn = m.functions[f];
            const std::uint64_t value =
                fn.by_ordinal
                    ? (kind == PeKind::pe32 ? 0x80000000u : 0x8000000000000000u) | fn.ordinal
                    : section_rva + result.hint_name_at[i][named++];
            const std::uint32_t entry = table + static_cast<std::uint32_t>(f) * entry_size;
            if (kind == PeKind::pe32)
                put32(out, entry, static_cast<std::uint32_t>(value));
            else
                put64(out, entry, value);
        }
        const std::uint32_t d = result.descriptor_at[i];
        // A module without a lookup table keeps its address table, as images
        // made by old linkers do: only OriginalFirstThunk is 0.
        put32(out, d + descriptor_lookup_table_at, m.lookup_table ? section_rva + table : 0);
        put32(out, d + descriptor_name_at, section_rva + result.module_name_at[i]);
        put32(out, d + 16, section_rva + table);  // FirstThunk
    }
    return result;
}

ExportData export_data(std::uint32_t section_rva, const std::vector<std::string>& names,
                       const std::vector<std::string>& forwarders) {
    ExportData result;
    Bytes& out = result.bytes;
    const auto count = static_cast<std::uint32_t>(names.size());
    const std::uint32_t names_array = 40;
    const std::uint32_t functions = names_array + 4 * count;
    const std::uint32_t ordinals = functions + 4 * count;
    const std::uint32_t dll_name = ordinals + 2 * count;
    const std::string library = "korvex-test.dll";
    std::uint32_t strings = dll_name + static_cast<std::uint32_t>(library.size() + 1);

    out.resize(strings, 0);
    put32(out, 12, section_rva + dll_name);
    put32(out, 16, 1);  // Base
    put32(out, 20, count);
    put32(out, export_number_of_names_at, count);
    put32(out, 28, section_rva + functions);
    put32(out, export_address_of_names_at, section_rva + names_array);
    put32(out, 36, section_rva + ordinals);
    put_string(out, dll_name, library);

    result.names_array_at = names_array;
    result.strings_at = strings;
    result.functions_at = functions;
    for (std::uint32_t i = 0; i < count; ++i) {
        put32(out, names_array + 4 * i, section_rva + strings);
        put32(out, functions + 4 * i, 0x1000 + i);
        put16(out, ordinals + 2 * i, static_cast<std::uint16_t>(i));
        put_string(out, strings, names[i]);
        strings += static_cast<std::uint32_t>(names[i].size() + 1);
    }
    for (std::uint32_t i = 0; i < forwarders.size() && i < count; ++i) {
        if (forwarders[i].empty()) continue;
        put32(out, functions + 4 * i, section_rva + strings);
        put_string(out, strings, forwarders[i]);
        strings += static_cast<std::uint32_t>(forwarders[i].size() + 1);
    }
    return result;
}

ImportData delay_import_data(PeKind kind, std::uint32_t section_rva,
                             const std::vector<ImportSpec>& modules,
                             std::optional<std::uint64_t> image_base) {
    ImportData data = import_data(kind, section_rva, modules);
    const auto at = static_cast<std::uint32_t>(data.bytes.size());
    const std::uint64_t base = image_base.value_or(0);
    for (std::size_t i = 0; i < modules.size(); ++i) {
        const std::uint32_t d = at + static_cast<std::uint32_t>(i) * delay_descriptor_size;
        put32(data.bytes, d, image_base ? 0 : 1);
        put32(data.bytes, d + 4,
              static_cast<std::uint32_t>(base + section_rva + data.module_name_at[i]));
        put32(data.bytes, d + 16,
              static_cast<std::uint32_t>(base + section_rva + data.table_at[i]));
        if (!image_base) continue;
        // An old descriptor's name table holds addresses too.
        const std::uint32_t entry_size = kind == PeKind::pe32 ? 4 : 8;
        for (std::size_t f = 0, named = 0; f < modules[i].functions.size(); ++f) {
            if (modules[i].functions[f].by_ordinal) continue;
            put32(data.bytes, data.table_at[i] + static_cast<std::uint32_t>(f) * entry_size,
                  static_cast<std::uint32_t>(base + section_rva + data.hint_name_at[i][named++]));
        }
    }
    data.bytes.resize(at + (modules.size() + 1) * delay_descriptor_size, 0);
    data.directory_at = at;
    return data;
}

Bytes mz_header(std::uint32_t lfanew) {
    Bytes file(0x40, 0);
    file[0] = 'M';
    file[1] = 'Z';
    put32(file, 0x3C, lfanew);
    return file;
}

Bytes mz_with_signature(std::uint32_t signature_at, const Bytes& signature,
                        std::size_t total_size) {
    Bytes file = mz_header(signature_at);
    put_bytes(file, signature_at, signature.data(), signature.size());
    if (file.size() < total_size) file.resize(total_size);
    return file;
}

Bytes api_set_section(const std::vector<ApiSetSpec>& sets) {
    const auto count = static_cast<std::uint32_t>(sets.size());
    constexpr std::uint32_t entries = 28;
    std::uint32_t at = entries + 24 * count;
    Bytes out;
    const auto put_wide = [&](const std::string& text) {
        const std::uint32_t start = at;
        for (const char c : text) {
            put16(out, at, static_cast<std::uint8_t>(c));
            at += 2;
        }
        return start;
    };
    put32(out, 0, 6);  // Version
    put32(out, 12, count);
    put32(out, 16, entries);
    for (std::uint32_t i = 0; i < count; ++i) {
        const auto& set = sets[i];
        const std::uint32_t entry = entries + 24 * i;
        put32(out, entry + 4, put_wide(set.name));
        put32(out, entry + 8, static_cast<std::uint32_t>(set.name.size() * 2));
        put32(out, entry + 12, static_cast<std::uint32_t>(set.name.rfind('-') * 2));
        const std::uint32_t values = at;
        at += 20 * static_cast<std::uint32_t>(set.hosts.size());
        put32(out, entry + 16, values);
        put32(out, entry + 20, static_cast<std::uint32_t>(set.hosts.size()));
        for (std::size_t v = 0; v < set.hosts.size(); ++v) {
            const std::uint32_t value = values + 20 * static_cast<std::uint32_t>(v);
            put32(out, value + 12, put_wide(set.hosts[v]));
            put32(out, value + 16, static_cast<std::uint32_t>(set.hosts[v].size() * 2));
            if (v < set.importers.size()) {
                put32(out, value + 4, put_wide(set.importers[v]));
                put32(out, value + 8, static_cast<std::uint32_t>(set.importers[v].size() * 2));
            }
        }
    }
    put32(out, 4, static_cast<std::uint32_t>(out.size()));  // Size
    return out;
}

Bytes pe_image(PeKind kind, const std::vector<ImportSpec>& imports,
               const std::vector<std::string>& exports,
               const std::vector<std::string>& forwarders) {
    constexpr std::uint32_t import_rva = 0x1000;
    constexpr std::uint32_t export_rva = 0x2000;
    PeBuilder builder(kind);
    if (!imports.empty()) {
        auto data = import_data(kind, import_rva, imports);
        builder.directory(1, import_rva + data.directory_at,
                          static_cast<std::uint32_t>((imports.size() + 1) * descriptor_size));
        builder.section({.virtual_address = import_rva, .data = std::move(data.bytes)});
    }
    if (!exports.empty()) {
        auto data = export_data(export_rva, exports, forwarders);
        builder.directory(0, export_rva, static_cast<std::uint32_t>(data.bytes.size()));
        builder.section({.virtual_address = export_rva, .data = std::move(data.bytes)});
    }
    return builder.build();
}

Bytes shared_name_program(std::uint32_t entries, std::uint32_t length) {
    constexpr std::uint32_t rva = 0x1000;
    const std::uint32_t table = 40, hint_name = table + 4 * (entries + 1);
    const std::uint32_t module = hint_name + 2 + length + 1;
    Bytes data(module + 16, 0);
    put32(data, 0, rva + table);
    put32(data, 12, rva + module);
    put32(data, 16, rva + table);
    for (std::uint32_t i = 0; i < entries; ++i) put32(data, table + 4 * i, rva + hint_name);
    put_string(data, hint_name + 2, std::string(length, 'x'));
    put_string(data, module, "alpha.dll");
    PeBuilder builder;
    builder.directory(1, rva, 40).section({.virtual_address = rva, .data = std::move(data)});
    return builder.build();
}

Bytes shared_name_schema(std::uint32_t count, std::uint32_t characters) {
    const std::uint32_t entries = 28, text = entries + 24 * count;
    Bytes data(text + 2 * characters, 0);
    put32(data, 0, 6);
    put32(data, 12, count);
    put32(data, 16, entries);
    for (std::uint32_t i = 0; i < count; ++i) {
        put32(data, entries + 24 * i + 4, text);
        put32(data, entries + 24 * i + 8, 2 * characters);
        put32(data, entries + 24 * i + 12, 2 * characters);
    }
    for (std::uint32_t i = 0; i < characters; ++i) data[text + 2 * i] = 'a';
    PeBuilder builder;
    builder.section({.virtual_address = 0x1000, .data = std::move(data), .name = ".apiset"});
    return builder.build();
}

ResourceData resource_data(std::uint32_t section_rva, const std::vector<ResourceSpec>& resources) {
    ResourceData out;
    Bytes& bytes = out.bytes;
    const auto count = static_cast<std::uint32_t>(resources.size());
    put16(bytes, 14, static_cast<std::uint16_t>(count));
    // Per leaf: its type's name directory (24 bytes), its language directory
    // (24), its data entry (16), then the data.
    std::uint32_t at = 16 + 8 * count + 64 * count;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t names = 16 + 8 * count + 48 * i, data_entry = 16 + 56 * count + 16 * i;
        put32(bytes, 16 + 8 * i, resources[i].type);
        put32(bytes, 20 + 8 * i, 0x80000000u | names);
        put16(bytes, names + 14, 1);
        put32(bytes, names + 16, resources[i].id);
        put32(bytes, names + 20, 0x80000000u | (names + 24));
        out.language_directory_at.push_back(names + 24);
        put16(bytes, names + 24 + 14, 1);
        put32(bytes, names + 24 + 16, resources[i].language);
        put32(bytes, names + 24 + 20, data_entry);
        out.data_entry_at.push_back(data_entry);
        at = align_up(at, 4);
        put32(bytes, data_entry, section_rva + at);
        put32(bytes, data_entry + 4, static_cast<std::uint32_t>(resources[i].data.size()));
        put_bytes(bytes, at, resources[i].data.data(), resources[i].data.size());
        at += static_cast<std::uint32_t>(resources[i].data.size());
    }
    bytes.resize(at);
    return out;
}

namespace {

// One block of a version record: length, value length, type, UTF-16 key,
// value and children, each 32-bit aligned.
Bytes version_block(const std::string& key, bool text, const Bytes& value,
                    std::uint16_t value_length, const std::vector<Bytes>& children) {
    Bytes block(6);
    for (const char c : key) put16(block, block.size(), static_cast<std::uint8_t>(c));
    put16(block, block.size(), 0);
    block.resize(align_up(block.size(), 4));
    block.insert(block.end(), value.begin(), value.end());
    for (const auto& child : children) {
        block.resize(align_up(block.size(), 4));
        block.insert(block.end(), child.begin(), child.end());
    }
    put16(block, 0, static_cast<std::uint16_t>(block.size()));
    put16(block, 2, value_length);
    put16(block, 4, text ? 1 : 0);
    return block;
}

}  // namespace

Bytes version_record(std::uint64_t file_version, std::uint64_t product_version,
                     const std::string& language,
                     const std::vector<std::pair<std::string, std::string>>& strings) {
    Bytes fixed(52);
    put32(fixed, 0, 0xFEEF04BD);
    put32(fixed, 4, 0x10000);
    put64(fixed, 8, file_version >> 32 | file_version << 32);
    put64(fixed, 16, product_version >> 32 | product_version << 32);
    std::vector<Bytes> table;
    for (const auto& [key, text] : strings) {
        Bytes value;
        for (const char c : text) put16(value, value.size(), static_cast<std::uint8_t>(c));
        put16(value, value.size(), 0);
        table.push_back(
            version_block(key, true, value, static_cast<std::uint16_t>(text.size() + 1), {}));
    }
    const Bytes info =
        version_block("StringFileInfo", true, {}, 0, {version_block(language, true, {}, 0, table)});
    return version_block("VS_VERSION_INFO", false, fixed, 52, {info});
}

Bytes image_with_directory(std::uint32_t index, const Bytes& data, std::uint32_t size) {
    PeBuilder builder;
    builder.section({0x1000, data, {}, {}, {}, ".rsrc"}).directory(index, 0x1000, size);
    return builder.build();
}

}  // namespace korvex::test
