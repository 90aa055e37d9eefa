#include "floor.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace korvex::bench {

namespace {

constexpr std::size_t page = 4096;

std::uint32_t u32(const std::uint8_t* data, std::size_t size, std::size_t offset) {
    if (offset > size || size - offset < 4) return 0;
    std::uint32_t value;
    std::memcpy(&value, data + offset, 4);
    return value;
}

std::uint16_t u16(const std::uint8_t* data, std::size_t size, std::size_t offset) {
    if (offset > size || size - offset < 2) return 0;
    std::uint16_t value;
    std::memcpy(&value, data + offset, 2);
    return value;
}

// Touches the header page and the pages of the sections holding the export
// and import directories.
std::uint64_t touch_image(const std::uint8_t* data, std::size_t size) {
    std::uint64_t sum = data[0];
    const std::size_t header = u32(data, size, 0x3C);
    if (u32(data, size, header) != 0x4550) return sum;
    const std::uint16_t sections = u16(data, size, header + 6);
    const std::uint16_t optional_size = u16(data, size, header + 20);
    const bool plus = u16(data, size, header + 24) == 0x20B;
    const std::size_t directories = header + 24 + (plus ? 112 : 96);
    const std::size_t table = header + 24 + optional_size;
    for (int directory = 0; directory < 2; ++directory) {
        const std::uint32_t rva = u32(data, size, directories + 8 * directory);
        if (rva == 0) continue;
        for (std::size_t s = 0; s < sections; ++s) {
            const std::size_t entry = table + 40 * s;
            const std::uint32_t start = u32(data, size, entry + 12);
            const std::uint32_t raw_size = u32(data, size, entry + 16);
            const std::uint32_t raw = u32(data, size, entry + 20);
            if (rva < start || rva - start >= raw_size) continue;
            const std::size_t end = std::min<std::size_t>(size, std::size_t{raw} + raw_size);
            for (std::size_t at = raw; at < end; at += page) sum += data[at];
            break;
        }
    }
    return sum;
}

// ---- Planning the read floor: which bytes a full listing reads

// The file in memory and the blocks its reads reach. Every read is checked
// against the file's size as the library checks it: what is not wholly
// inside the file is not read.
class BlockPlanner {
public:
    explicit BlockPlanner(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    std::optional<std::uint32_t> u32(std::uint64_t at) {
        if (!read(at, 4)) return std::nullopt;
        std::uint32_t value;
        std::memcpy(&value, bytes_.data() + at, 4);
        return value;
    }
    std::optional<std::uint16_t> u16(std::uint64_t at) {
        if (!read(at, 2)) return std::nullopt;
        std::uint16_t value;
        std::memcpy(&value, bytes_.data() + at, 2);
        return value;
    }
    // Length of the string at `at` without its NUL; nothing when it runs to
    // the end of the file. The bytes up to the NUL are read.
    std::optional<std::uint64_t> string(std::uint64_t at) {
        if (at >= bytes_.size()) return std::nullopt;
        const auto* start = bytes_.data() + at;
        const auto* nul = static_cast<const std::uint8_t*>(
            std::memchr(start, 0, bytes_.size() - static_cast<std::size_t>(at)));
        if (nul == nullptr) {
            read(at, bytes_.size() - at);
            return std::nullopt;
        }
        read(at, static_cast<std::uint64_t>(nul - start) + 1);
        return static_cast<std::uint64_t>(nul - start);
    }
    [[nodiscard]] bool inside(std::uint64_t at, std::uint64_t length) const {
        return length <= bytes_.size() && at <= bytes_.size() - length;
    }
    [[nodiscard]] std::uint64_t size() const { return bytes_.size(); }

    std::vector<BlockRun> runs() const {
        std::vector<BlockRun> out;
        for (const std::uint64_t block : blocks_) {
            const std::uint64_t offset = block * read_block_size;
            const auto length = static_cast<std::size_t>(
                std::min<std::uint64_t>(read_block_size, bytes_.size() - offset));
            if (!out.empty() && out.back().offset + out.back().length == offset) {
                out.back().length += length;
            } else {
                out.push_back({offset, length});
            }
        }
        return out;
    }
    [[nodiscard]] std::size_t block_count() const { return blocks_.size(); }

private:
    bool read(std::uint64_t at, std::uint64_t length) {
        if (!inside(at, length)) return false;
        for (std::uint64_t block = at / read_block_size;
             length != 0 && block <= (at + length - 1) / read_block_size; ++block)
            blocks_.insert(block);
        return true;
    }

    std::vector<std::uint8_t> bytes_;
    std::set<std::uint64_t> blocks_;
};

struct Section {
    std::uint32_t virtual_address, raw_size, raw_pointer;
};

struct Directory {
    std::uint64_t data;
    Section section;
    bool wide;
};

std::optional<std::uint64_t> convert(const BlockPlanner& file, const Section& section,
                                     std::uint32_t rva, std::uint32_t extra = 0) {
    const std::int64_t at =
        std::int64_t{section.raw_pointer} - section.virtual_address + rva + extra;
    if (at < 0 || at >= (std::int64_t{1} << 32) || !file.inside(static_cast<std::uint64_t>(at), 1))
        return std::nullopt;
    return static_cast<std::uint64_t>(at);
}

// The headers as the library's directory lookup reads them (src/image), with
// the offsets the PE format gives.
std::optional<Directory> find_directory(BlockPlanner& file, std::uint32_t index) {
    const auto lfanew = file.u32(0x3C);
    if (!lfanew || !file.inside(*lfanew, 24)) return std::nullopt;
    const std::uint64_t header = *lfanew;
    const std::uint16_t sections = *file.u16(header + 6);
    const std::uint16_t optional_size = *file.u16(header + 20);
    file.u16(header + 4);
    const std::uint64_t optional = header + 24;
    const bool wide = file.u16(optional) == 0x20B;
    const std::uint64_t count_at = optional + (wide ? 108 : 92);
    const auto count = file.u32(count_at);
    if (!count) return std::nullopt;
    file.u32(optional + (wide ? 24 : 28));
    if (wide) file.u32(optional + 28);
    file.u32(optional + 60);
    if (index >= *count) return std::nullopt;
    const auto rva = file.u32(count_at + 4 + 8 * std::uint64_t{index});
    if (!rva) return std::nullopt;
    const std::uint64_t table = optional + (wide ? optional_size : 224);
    for (std::uint32_t i = 0; i < sections; ++i) {
        const std::uint64_t entry = table + 40 * std::uint64_t{i};
        if (!file.inside(entry, 40)) return std::nullopt;
        file.u32(entry);
        file.u32(entry + 4);
        const Section section{*file.u32(entry + 12), *file.u32(entry + 16), *file.u32(entry + 20)};
        const std::uint64_t end = std::uint64_t{section.virtual_address} + section.raw_size;
        if (end >= (std::uint64_t{1} << 32) || *rva < section.virtual_address || *rva >= end)
            continue;
        const auto data = convert(file, section, *rva);
        if (!data) return std::nullopt;
        return Directory{*data, section, wide};
    }
    return std::nullopt;
}

void plan_exports(BlockPlanner& file) {
    const auto exports = find_directory(file, 0);
    if (!exports) return;
    const auto count = file.u32(exports->data + 24);
    if (!count || static_cast<std::int32_t>(*count) <= 0) return;
    const auto names_rva = file.u32(exports->data + 32);
    if (!names_rva) return;
    const auto names = convert(file, exports->section, *names_rva);
    if (!names) return;
    const auto first_rva = file.u32(*names);
    if (!first_rva) return;
    const auto first = convert(file, exports->section, *first_rva);
    if (!first) return;
    std::uint64_t at = *first;
    for (std::uint32_t i = 0; i < *count; ++i) {
        const auto length = file.string(at);
        if (!length) break;
        at += *length + 1;
    }
}

void plan_functions(BlockPlanner& file, const Directory& imports, std::uint32_t table_rva) {
    if (table_rva == 0) return;
    auto entry = convert(file, imports.section, table_rva);
    if (!entry) return;
    for (;; *entry += imports.wide ? 8 : 4) {
        const auto low = file.u32(*entry);
        if (!low) return;
        std::uint64_t value = *low;
        if (imports.wide) {
            const auto high = file.u32(*entry + 4);
            if (!high) return;
            value |= std::uint64_t{*high} << 32;
        }
        if (value == 0) return;
        const bool by_ordinal = imports.wide ? (value >> 63) != 0 : (value >> 31) != 0;
        if (by_ordinal) continue;
        const auto name = convert(file, imports.section, static_cast<std::uint32_t>(value), 2);
        if (!name || !file.string(*name)) return;
    }
}

// The module list, then, as a host asks for them, the function list of the
// first descriptor of each listed name up to the list's first empty entry.
void plan_imports(BlockPlanner& file, const std::vector<std::uint8_t>& bytes) {
    const auto imports = find_directory(file, 1);
    if (!imports) return;
    struct Module {
        std::string name;
        std::uint32_t table;
    };
    std::vector<Module> modules;
    for (std::uint64_t descriptor = imports->data; file.inside(descriptor, 20); descriptor += 20) {
        const auto name_rva = file.u32(descriptor + 12);
        if (*name_rva == 0) break;
        const auto name = convert(file, imports->section, *name_rva);
        if (!name) break;
        const auto length = file.string(*name);
        if (!length) break;
        const auto table = file.u32(descriptor);
        modules.push_back(
            {std::string(bytes.begin() + static_cast<std::ptrdiff_t>(*name),
                         bytes.begin() + static_cast<std::ptrdiff_t>(*name + *length)),
             *table});
    }
    std::set<std::string> asked;
    for (const Module& module : modules) {
        if (module.name.empty()) break;
        if (!asked.insert(module.name).second) continue;
        plan_functions(file, *imports, module.table);
    }
}

#ifdef _WIN32
using Handle = HANDLE;
Handle open_for_reading(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}
bool opened(Handle file) { return file != INVALID_HANDLE_VALUE; }
std::uint64_t file_size(Handle file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}
void read_at(Handle file, std::uint8_t* into, std::size_t length, std::uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    ReadFile(file, into, static_cast<DWORD>(length), &got, &at);
}
void close_file(Handle file) { CloseHandle(file); }
#else
using Handle = int;
Handle open_for_reading(const std::string& path) { return ::open(path.c_str(), O_RDONLY); }
bool opened(Handle file) { return file >= 0; }
std::uint64_t file_size(Handle file) {
    struct stat facts {};
    return ::fstat(file, &facts) == 0 ? static_cast<std::uint64_t>(facts.st_size) : 0;
}
void read_at(Handle file, std::uint8_t* into, std::size_t length, std::uint64_t offset) {
    (void)::pread(file, into, length, static_cast<off_t>(offset));
}
void close_file(Handle file) { ::close(file); }
#endif

}  // namespace

std::uint64_t touch_floor(const std::vector<std::string>& files) {
    std::uint64_t sum = 0;
    for (const auto& path : files) {
#ifdef _WIN32
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        const void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
        if (view != nullptr) {
            sum += touch_image(static_cast<const std::uint8_t*>(view), GetFileSize(file, nullptr));
            UnmapViewOfFile(view);
        }
        if (mapping) CloseHandle(mapping);
        CloseHandle(file);
#else
        const int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) continue;
        struct stat facts {};
        if (fstat(fd, &facts) == 0 && facts.st_size > 0) {
            const auto size = static_cast<std::size_t>(facts.st_size);
            void* view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (view != MAP_FAILED) {
                sum += touch_image(static_cast<const std::uint8_t*>(view), size);
                munmap(view, size);
            }
        }
        close(fd);
#endif
    }
    return sum;
}

ReadPlan plan_reads(const std::vector<std::string>& files) {
    ReadPlan plan;
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary | std::ios::ate);
        std::vector<std::uint8_t> bytes(in ? static_cast<std::size_t>(in.tellg()) : 0);
        in.seekg(0);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (bytes.size() < 2 || bytes[0] != 'M' || bytes[1] != 'Z') continue;
        plan.largest = std::max(plan.largest, bytes.size());
        BlockPlanner file(bytes);
        const auto lfanew = file.u32(0x3C);
        if (lfanew) file.u32(*lfanew);
        if (lfanew && u32(bytes.data(), bytes.size(), *lfanew) == 0x4550 &&
            file.inside(*lfanew, 4)) {
            plan_imports(file, bytes);
            plan_exports(file);
        }
        FileReads reads{path, file.runs()};
        plan.reads += reads.runs.size();
        plan.blocks += file.block_count();
        plan.files.push_back(std::move(reads));
    }
    return plan;
}

ReadFloor::ReadFloor(ReadPlan plan) : plan_(std::move(plan)), area_(plan_.largest + page, 1) {}

ReadFloor::~ReadFloor() = default;

std::uint64_t ReadFloor::run() {
    std::uint64_t sum = 0;
    for (const FileReads& file : plan_.files) {
        const Handle handle = open_for_reading(file.path);
        if (!opened(handle)) continue;
        sum += file_size(handle);
        for (const BlockRun& run : file.runs) {
            read_at(handle, area_.data() + run.offset, run.length, run.offset);
            sum += area_[static_cast<std::size_t>(run.offset)];
        }
        close_file(handle);
    }
    return sum;
}

}  // namespace korvex::bench
