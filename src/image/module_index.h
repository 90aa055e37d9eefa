// Finds an imported module of the held image by name without walking the
// import descriptors from the first on every call.
//
// A host lists a file's modules and then asks for each module's functions in
// turn; a lookup that starts at the first descriptor each time makes that
// quadratic in the number of modules. The index remembers every module the
// descriptor walk has passed (the first of each name) and resumes the walk
// where it stopped, so a file's lookups together walk its descriptors about
// once (twice at most, with the widenings of the table).
// The answers are those of the walk from the first descriptor: the first
// listed module of exactly that name, or none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "image/byte_view.h"
#include "image/directory_lookup.h"
#include "image/import_walk.h"
#include "image/name_list_writer.h"

namespace korvex::image {

class ModuleIndex {
public:
    // Room for this many modules in the index's own table. A file with more
    // puts the rest in a table from the C runtime's heap, which grows as
    // they come and is given back by reset(); should the heap refuse, the
    // answers stay right and lookups past the room walk the rest of the
    // descriptors each time.
    static constexpr std::uint32_t slot_count = 8192;
    static constexpr std::uint32_t module_capacity = slot_count / 4 * 3;
    // A file's lookups start in the table's first slots, which then stay in
    // the processor's cache from file to file, and spread over more of them
    // as its modules need (most files import from a few dozen modules).
    static constexpr std::uint32_t first_slots = 64;

    // Forgets everything: another image, or none, is held.
    void reset() noexcept;

    // The first module listed under exactly the `length` bytes at `name`.
    // `imports` is the held image's import directory.
    std::optional<ImportedModule> find(ByteView file, const DirectoryLocation& imports,
                                       const char* name, std::size_t length) noexcept;

    // Appends every module's name to `list`, in list order, as the module
    // list shows them. When nothing has been looked up yet, the walk indexes
    // the modules it passes, so that the lookups of a host that lists the
    // modules first and then asks for each one find them without walking
    // the descriptors again.
    void append_module_names(ByteView file, const DirectoryLocation& imports,
                             NameListWriter& list) noexcept;

private:
    // A slot is in use when its generation is the index's: a reset then
    // empties every slot at once, which matters because MapFile resets the
    // index for every file while most files never use it. The index's
    // generation is resets_ + 1, and mask_ is set when a file's lookups
    // begin, so that an index that has never been used is all zero bytes:
    // the held index then lives in the DLL's zero-filled data instead of
    // taking 160 KiB of the file.
    struct Slot {
        const std::uint8_t* name;
        std::uint32_t length;
        std::uint32_t hash;
        std::uint32_t lookup_table;
        std::uint32_t generation;
    };

    // Starts over on the image whose import directory is `imports`, unless
    // that is the one indexed.
    void begin(ByteView file, const DirectoryLocation& imports) noexcept;
    // find without the last answer.
    std::optional<ImportedModule> find_anew(ByteView file, const DirectoryLocation& imports,
                                            const char* name, std::size_t length) noexcept;
    // Indexes the module the walk has just passed, widening the table first
    // when it is three quarters full.
    void index_passed(ByteView file, const DirectoryLocation& imports, std::uint32_t hash,
                      const ImportedModule& module) noexcept;
    const Slot* lookup(std::uint32_t hash, const char* name, std::size_t length) const noexcept;
    // Adds the module unless its name is already there; false when full.
    bool add(std::uint32_t hash, const ImportedModule& module) noexcept;
    // The same for the modules past module_capacity, in the heap's table.
    const Slot* lookup_more(std::uint32_t hash, const char* name,
                            std::size_t length) const noexcept;
    void add_more(std::uint32_t hash, const ImportedModule& module) noexcept;
    // Makes room for one more module in the heap's table; false when the
    // heap refuses.
    bool room_for_more() noexcept;
    // A name's hash, keyed by seed_.
    std::uint32_t slot_hash(const void* name, std::size_t length) const noexcept;
    // Empties every slot at once.
    void next_generation() noexcept;
    // Doubles the slots in use and indexes the modules passed so far again.
    void widen(ByteView file, const DirectoryLocation& imports) noexcept;

    [[nodiscard]] std::uint32_t generation() const noexcept { return resets_ + 1; }

    Slot slots_[slot_count] = {};
    Slot* more_ = nullptr;  // in use: generation 1; calloc's zeros are free slots
    std::uint32_t more_slots_ = 0;
    std::uint32_t more_count_ = 0;
    std::uint32_t resets_ = 0;
    std::uint32_t seed_ = 0;  // chosen anew for every file
    std::uint32_t indexed_ = 0;
    std::uint32_t mask_ = 0;               // of the slots in use, a power of two, less 1
    std::uint32_t walked_ = 0;             // modules the walk has passed
    std::uint64_t directory_ = 0;          // file position of the descriptors indexed
    std::optional<ModuleWalk> walk_;       // where indexing resumes; empty before the first lookup
    std::optional<ImportedModule> found_;  // the last lookup's answer, asked for again by a fill
    bool walk_ended_ = false;              // every module is indexed
};

}  // namespace korvex::image
