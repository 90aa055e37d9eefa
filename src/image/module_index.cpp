#include "image/module_index.h"

#include <cstring>

#include "fixed_text.h"

namespace korvex::image {

namespace {

constinit ModuleIndex g_held_index{};

bool same_name(const ImportedModule& module, const char* name, std::size_t length) noexcept {
    return module.name_length == length && std::memcmp(module.name, name, length) == 0;
}

}  // namespace

ModuleIndex& held_module_index() noexcept { return g_held_index; }

void ModuleIndex::reset() noexcept {
    if (!walk_) return;  // never used since the last reset
    walk_.reset();
    walk_ended_ = false;
    indexed_ = 0;
    directory_ = 0;
    if (++resets_ == UINT32_MAX) {
        // The next generation would be 0, the stamp of a slot never used,
        // and after it every old stamp could be current again.
        for (Slot& slot : slots_) slot.generation = 0;
        resets_ = 0;
    }
}

const ModuleIndex::Slot* ModuleIndex::lookup(std::uint32_t hash, const char* name,
                                             std::size_t length) const noexcept {
    for (std::uint32_t i = hash & (slot_count - 1);; i = (i + 1) & (slot_count - 1)) {
        const Slot& slot = slots_[i];
        if (slot.generation != generation()) return nullptr;
        if (slot.hash == hash && slot.length == length && std::memcmp(slot.name, name, length) == 0)
            return &slot;
    }
}

bool ModuleIndex::add(std::uint32_t hash, const ImportedModule& module) noexcept {
    if (indexed_ >= module_capacity) return false;
    std::uint32_t i = hash & (slot_count - 1);
    while (slots_[i].generation == generation()) {
        const Slot& slot = slots_[i];
        if (slot.hash == hash && slot.length == module.name_length &&
            std::memcmp(slot.name, module.name, module.name_length) == 0)
            return true;  // a later module of a name already listed
        i = (i + 1) & (slot_count - 1);
    }
    slots_[i] = Slot{module.name, static_cast<std::uint32_t>(module.name_length), hash,
                     module.lookup_table, generation()};
    ++indexed_;
    return true;
}

std::optional<ImportedModule> ModuleIndex::find(ByteView file, const DirectoryLocation& imports,
                                                const char* name, std::size_t length) noexcept {
    if (!walk_ || directory_ != imports.data) {
        reset();
        walk_.emplace(file, imports);
        directory_ = imports.data;
    }
    const std::uint32_t hash = fnv1a_hash(name, length);
    if (const Slot* slot = lookup(hash, name, length))
        return ImportedModule{slot->name, slot->length, slot->lookup_table};
    if (walk_ended_) return std::nullopt;

    // Not among the modules passed so far: walk on, indexing as it goes.
    while (indexed_ < module_capacity) {
        const auto module = walk_->next();
        if (!module) {
            walk_ended_ = true;
            return std::nullopt;
        }
        add(fnv1a_hash(module->name, module->name_length), *module);
        // A module of this name passed earlier would have been found above,
        // so this is the first.
        if (same_name(*module, name, length)) return module;
    }
    // The index is full: the modules after the indexed ones are walked for
    // every lookup that misses it.
    ModuleWalk rest = *walk_;
    while (const auto module = rest.next())
        if (same_name(*module, name, length)) return module;
    return std::nullopt;
}

}  // namespace korvex::image
