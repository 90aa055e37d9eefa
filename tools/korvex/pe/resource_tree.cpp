#include "pe/resource_tree.h"

#include <algorithm>

namespace korvex::host {

namespace img = korvex::image;

namespace {

constexpr std::uint32_t subdirectory_bit = 0x80000000u;
constexpr std::uint32_t name_is_string = 0x80000000u;
constexpr std::uint32_t directory_header = 16;
constexpr std::uint32_t entry_size = 8;

// One walk of the tree: every directory is read through the image from the
// tree's root RVA, each entry counted against the ceiling.
class TreeWalk {
public:
    TreeWalk(const img::PeImage& image, std::uint32_t root, ResourceFind& found)
        : image_(image), root_(root), found_(found) {}

    void types() {
        for_each_entry(0, [&](std::uint32_t name, std::uint32_t target) {
            if ((name & name_is_string) != 0) return true;
            std::vector<ResourceItem>* into = name == rt_manifest  ? &found_.manifests
                                              : name == rt_version ? &found_.versions
                                                                   : nullptr;
            if (into == nullptr) return true;
            if ((target & subdirectory_bit) == 0) return fail("a type entry holds data, not names");
            return names(target & ~subdirectory_bit, *into);
        });
    }

private:
    bool names(std::uint32_t offset, std::vector<ResourceItem>& into) {
        return for_each_entry(offset, [&](std::uint32_t name, std::uint32_t target) {
            if ((name & name_is_string) != 0) return true;
            if ((target & subdirectory_bit) == 0)
                return fail("a name entry holds data, not languages");
            return languages(target & ~subdirectory_bit, name, into);
        });
    }

    bool languages(std::uint32_t offset, std::uint32_t id, std::vector<ResourceItem>& into) {
        return for_each_entry(offset, [&](std::uint32_t name, std::uint32_t target) {
            if ((target & subdirectory_bit) != 0)
                return fail("it is deeper than the three levels resources have");
            const auto at =
                target > 0xFFFFFFFFu - root_ ? std::nullopt : image_.offset_of(root_ + target, 16);
            if (!at) return fail("a data entry lies outside the file");
            const img::ByteView file = image_.file();
            into.push_back(
                {id, static_cast<std::uint16_t>(name), *file.u32(*at), *file.u32(*at + 4)});
            return true;
        });
    }

    // Calls `visit(name, target)` for each entry of the directory at
    // `offset` from the root; false when the walk is to stop.
    template <typename Visit>
    bool for_each_entry(std::uint32_t offset, Visit visit) {
        if (offset > 0xFFFFFFFFu - root_ - directory_header)
            return fail("a directory lies outside the file");
        const auto header = image_.offset_of(root_ + offset, directory_header);
        if (!header) return fail("a directory lies outside the file");
        const img::ByteView file = image_.file();
        const std::uint32_t count =
            std::uint32_t{*file.u16(*header + 12)} + *file.u16(*header + 14);
        if (count > max_resource_entries - std::min(entries_, max_resource_entries))
            return fail("it holds more than 65,536 entries, the limit per file");
        entries_ += count;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t rva =
                std::uint64_t{root_} + offset + directory_header + i * entry_size;
            const auto at = rva > 0xFFFFFFFFu
                                ? std::nullopt
                                : image_.offset_of(static_cast<std::uint32_t>(rva), 8);
            if (!at) return fail("a directory's entries run outside the file");
            if (!visit(*file.u32(*at), *file.u32(*at + 4))) return false;
        }
        return true;
    }

    bool fail(const char* why) {
        if (found_.damage.empty())
            found_.damage = std::string("its resource tree is damaged: ") + why;
        return false;
    }

    const img::PeImage& image_;
    std::uint32_t root_;
    ResourceFind& found_;
    std::uint32_t entries_ = 0;
};

}  // namespace

ResourceFind find_resources(const img::PeImage& image) {
    ResourceFind found;
    // The loader finds resources by the directory's address alone: a size
    // of 0 does not hide them (the walk has bounds of its own).
    const auto directory = image.directory(resource_directory);
    if (!image.placed() || !directory || directory->rva == 0) return found;
    TreeWalk(image, directory->rva, found).types();
    return found;
}

std::optional<img::ByteView> resource_bytes(const img::PeImage& image, const ResourceItem& item) {
    if (item.size == 0) return img::ByteView{};
    const auto at = image.offset_of(item.rva, item.size);
    if (!at) return std::nullopt;
    const std::uint8_t* bytes = image.file().at(*at, item.size);
    if (bytes == nullptr) return std::nullopt;
    return img::ByteView{bytes, item.size};
}

void append_code_point(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string utf8_of_utf16(const std::uint8_t* bytes, std::size_t units) {
    std::string text;
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t code = bytes[2 * i] | bytes[2 * i + 1] << 8;
        if (code == 0) break;
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < units) {
            const std::uint32_t low = bytes[2 * i + 2] | bytes[2 * i + 3] << 8;
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (code >= 0xD800 && code < 0xE000) code = 0xFFFD;
        append_code_point(text, code);
    }
    return text;
}

}  // namespace korvex::host
