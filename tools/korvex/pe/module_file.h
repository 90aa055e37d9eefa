// What the dependency walk needs to know of one executable file: its
// machine, the modules and functions it imports (statically and
// delay-loaded), and its export table, all read with the host's own readers
// from one parse of its headers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/host_os.h"
#include "image/byte_view.h"
#include "image_readers/pe_image.h"
#include "pe/library_lists.h"
#include "pe/manifest.h"

namespace korvex::host {

struct ModuleImport {
    std::string module;  // as the file names it
    std::vector<ImportedFunction> functions;
    bool delay = false;
};

struct ExportLookup {
    enum class Kind : std::uint8_t { none, code, forwarder };
    Kind kind = Kind::none;
    // "MODULE.Name" or "MODULE.#12", held by the module file looked in.
    std::string_view forwarder;
};

// Hashes names given as strings or views alike, so that a lookup copies no name.
struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const {
        return std::hash<std::string_view>{}(name);
    }
};

// The least name of each address-table slot of one export table, built on
// the first question and then answered by index: a program may import tens
// of thousands of functions by ordinal from one DLL, and a search of every
// name for each would take quadratic time. A copy starts empty (the names it
// points at are the original's) and builds its own when asked. Not for use by
// two threads at once.
class SlotNames {
public:
    SlotNames() = default;
    SlotNames(const SlotNames&) {}
    SlotNames& operator=(const SlotNames&) {
        names_.clear();
        built_ = false;
        return *this;
    }
    ~SlotNames() = default;

    template <typename Names>
    const std::string* find(const Names& names, std::uint32_t slot) {
        if (!built_) {
            // One pointer per slot up to the last one named; a name table's
            // ordinals are 16-bit, so that is at most 512 KiB.
            std::uint32_t slots = 0;
            for (const auto& entry : names) slots = std::max(slots, entry.second + 1);
            names_.assign(std::min<std::uint32_t>(slots, 0x10000), nullptr);
            for (const auto& [name, named_slot] : names)
                if (named_slot < names_.size() &&
                    (names_[named_slot] == nullptr || name < *names_[named_slot]))
                    names_[named_slot] = &name;
            built_ = true;
        }
        return slot < names_.size() ? names_[slot] : nullptr;
    }

private:
    std::vector<const std::string*> names_;
    bool built_ = false;
};

struct ModuleFile {
    std::string path;
    std::string problem;  // why it cannot be loaded; empty for a usable PE image
    // The problem is a limit the file passed (too long a name, too many
    // entries, the memory ceiling): it is hostile or damaged, not just absent.
    bool limit_passed = false;
    std::uint64_t size = 0;  // of the file, in bytes: what its InputBudget allows
    // The file read, as opened: a copy of it (deps --copy-to) is refused when
    // its path reaches another file by then. Unknown for modules made in memory.
    FileIdentity identity;
    std::uint16_t machine = 0;
    // Built by Wine for itself (wine_build_mark): not what a vendor ships.
    bool wine_build = false;
    std::vector<ModuleImport> imports;  // static ones first, in descriptor order
    // The manifests the loader reads of the file: resource 1 (a program's,
    // or the identity of a private assembly's DLL) and resource 2 (a DLL's,
    // for its own imports); null when it has none.
    std::shared_ptr<const ManifestFacts> manifest_1, manifest_2;

    ExportLookup find_export(std::string_view name) const;
    ExportLookup find_export(std::uint16_t ordinal) const;
    // The name an export by ordinal also has; empty when it has none.
    [[nodiscard]] std::string name_of(std::uint16_t ordinal) const;

    // name -> address-table slot
    std::unordered_map<std::string, std::uint32_t, NameHash, std::equal_to<>> export_slots;
    std::unordered_map<std::uint32_t, std::string> forwarders;  // slot -> forwarder
    std::vector<bool> code_slots;
    std::uint32_t ordinal_base = 0;
    mutable SlotNames slot_names;
};

// Whether the file is one of Wine's own builds, which Wine marks in the DOS
// stub ("Wine builtin DLL", or "Wine placeholder DLL" for the stand-ins a
// prefix holds): Wine loads its builtin module in their place, and they are
// not the redistributable a program's vendor ships. A version resource that
// names Wine would say the same of a build without the mark; that check
// belongs with the version-resource reader.
bool wine_build_mark(image::ByteView file);

// Reads the file at `path` as the loader does, from one view of it: the
// checks it makes before mapping an image, the machine, the static and
// delay imports and the export table, every address through the section that
// holds it. A file that is not a PE image, a damaged one, one whose import
// or export tables reach outside its data, or one that passes a limit (a
// name longer than max_name_bytes, more entries than a table may have, what
// is kept of it over its InputBudget) comes back with a `problem` and
// nothing else. Running out of memory on it is a problem too, never thrown.
std::unique_ptr<ModuleFile> read_module_file(const std::string& path);

// The same over bytes already in memory (`path` names them in messages),
// parsed here or by the caller, whose other readers then take the same parse.
std::unique_ptr<ModuleFile> read_module_image(const std::string& path, image::ByteView file);
std::unique_ptr<ModuleFile> read_module_image(const std::string& path, const image::PeImage& image);

}  // namespace korvex::host
