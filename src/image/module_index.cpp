#include "image/module_index.h"

#include <cstdlib>
#include <cstring>

#include "fixed_text.h"

namespace korvex::image {

namespace {

bool same_name(const ImportedModule& module, const char* name, std::size_t length) noexcept {
    return module.name_length == length && std::memcmp(module.name, name, length) == 0;
}

}  // namespace

void ModuleIndex::reset() noexcept {
    if (!walk_) return;  // never used since the last reset
    std::free(more_);
    more_ = nullptr;
    more_slots_ = 0;
    more_count_ = 0;
    walk_.reset();
    found_.reset();
    walk_ended_ = false;
    indexed_ = 0;
    walked_ = 0;
    directory_ = 0;
    next_generation();
}

void ModuleIndex::next_generation() noexcept {
    if (++resets_ == UINT32_MAX) {
        // The next generation would be 0, the stamp of a slot never used,
        // and after it every old stamp could be current again.
        for (Slot& slot : slots_) slot.generation = 0;
        resets_ = 0;
    }
}

void ModuleIndex::widen(ByteView file, const DirectoryLocation& imports) noexcept {
    mask_ = mask_ * 2 + 1;
    next_generation();
    indexed_ = 0;
    // Each widening walks again what the walk has passed: with the table
    // doubling each time, no more than the walk itself in all.
    ModuleWalk again(file, imports);
    for (std::uint32_t i = 0; i < walked_; ++i) {
        const auto module = again.next();
        add(slot_hash(module->name, module->name_length), *module);
    }
}

const ModuleIndex::Slot* ModuleIndex::lookup(std::uint32_t hash, const char* name,
                                             std::size_t length) const noexcept {
    for (std::uint32_t i = hash & mask_;; i = (i + 1) & mask_) {
        const Slot& slot = slots_[i];
        if (slot.generation != generation()) return nullptr;
        if (slot.hash == hash && slot.length == length && std::memcmp(slot.name, name, length) == 0)
            return &slot;
    }
}

bool ModuleIndex::add(std::uint32_t hash, const ImportedModule& module) noexcept {
    if (indexed_ >= module_capacity) return false;
    std::uint32_t i = hash & mask_;
    while (slots_[i].generation == generation()) {
        const Slot& slot = slots_[i];
        if (slot.hash == hash && slot.length == module.name_length &&
            std::memcmp(slot.name, module.name, module.name_length) == 0)
            return true;  // a later module of a name already listed
        i = (i + 1) & mask_;
    }
    slots_[i] = Slot{module.name, static_cast<std::uint32_t>(module.name_length), hash,
                     module.lookup_table, generation()};
    ++indexed_;
    return true;
}

namespace {

constexpr std::uint32_t more_in_use = 1;

// The last steps of MurmurHash3: every bit of the input moves every bit of
// the output.
constexpr std::uint32_t mix(std::uint32_t value) {
    value ^= value >> 16;
    value *= 0x85EBCA6Bu;
    value ^= value >> 13;
    value *= 0xC2B2AE35u;
    value ^= value >> 16;
    return value;
}

}  // namespace

const ModuleIndex::Slot* ModuleIndex::lookup_more(std::uint32_t hash, const char* name,
                                                  std::size_t length) const noexcept {
    if (more_ == nullptr) return nullptr;
    const std::uint32_t mask = more_slots_ - 1;
    for (std::uint32_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = more_[i];
        if (slot.generation != more_in_use) return nullptr;
        if (slot.hash == hash && slot.length == length && std::memcmp(slot.name, name, length) == 0)
            return &slot;
    }
}

void ModuleIndex::add_more(std::uint32_t hash, const ImportedModule& module) noexcept {
    const auto name = reinterpret_cast<const char*>(module.name);
    if (lookup(hash, name, module.name_length) || lookup_more(hash, name, module.name_length))
        return;  // a later module of a name already listed
    const std::uint32_t mask = more_slots_ - 1;
    std::uint32_t i = hash & mask;
    while (more_[i].generation == more_in_use) i = (i + 1) & mask;
    more_[i] = Slot{module.name, static_cast<std::uint32_t>(module.name_length), hash,
                    module.lookup_table, more_in_use};
    ++more_count_;
}

bool ModuleIndex::room_for_more() noexcept {
    if (more_ != nullptr && more_count_ < more_slots_ / 4 * 3) return true;
    if (more_slots_ >= (1u << 30)) return false;
    const std::uint32_t slots = more_slots_ == 0 ? slot_count : more_slots_ * 2;
    auto* grown = static_cast<Slot*>(std::calloc(slots, sizeof(Slot)));
    if (grown == nullptr) return false;
    for (std::uint32_t i = 0; i < more_slots_; ++i) {
        if (more_[i].generation != more_in_use) continue;
        std::uint32_t at = more_[i].hash & (slots - 1);
        while (grown[at].generation == more_in_use) at = (at + 1) & (slots - 1);
        grown[at] = more_[i];
    }
    std::free(more_);
    more_ = grown;
    more_slots_ = slots;
    return true;
}

std::uint32_t ModuleIndex::slot_hash(const void* name, std::size_t length) const noexcept {
    return mix(fnv1a_hash(name, length) ^ seed_);
}

void ModuleIndex::begin(ByteView file, const DirectoryLocation& imports) noexcept {
    if (walk_ && directory_ == imports.data) return;
    reset();
    mask_ = first_slots - 1;
    walk_.emplace(file, imports);
    // Where a name's slot falls must not be up to the file: names made to
    // share one slot would make every lookup walk all of them.
    seed_ =
        mix(resets_ ^ static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(file.data())));
    directory_ = imports.data;
}

void ModuleIndex::index_passed(ByteView file, const DirectoryLocation& imports, std::uint32_t hash,
                               const ImportedModule& module) noexcept {
    if (indexed_ >= (mask_ + 1) / 4 * 3) widen(file, imports);
    add(hash, module);
    ++walked_;
}

void ModuleIndex::append_module_names(ByteView file, const DirectoryLocation& imports,
                                      NameListWriter& list) noexcept {
    begin(file, imports);
    // The walk stops before a name that would not fit, so every append does.
    if (walked_ != 0 || walk_ended_) {
        ModuleWalk all(file, imports);
        while (const auto module = all.next()) list.append(module->name, module->name_length);
        return;
    }
    while (indexed_ < module_capacity) {
        const auto module = walk_->next();
        if (!module) {
            walk_ended_ = true;
            return;
        }
        index_passed(file, imports, slot_hash(module->name, module->name_length), *module);
        list.append(module->name, module->name_length);
    }
    // The rest is listed without indexing; lookups index it as they go.
    ModuleWalk rest = *walk_;
    while (const auto module = rest.next()) list.append(module->name, module->name_length);
}

std::optional<ImportedModule> ModuleIndex::find(ByteView file, const DirectoryLocation& imports,
                                                const char* name, std::size_t length) noexcept {
    begin(file, imports);
    // A host's fill asks for the module its size query has just found.
    if (found_ && same_name(*found_, name, length)) return found_;
    found_ = find_anew(file, imports, name, length);
    return found_;
}

std::optional<ImportedModule> ModuleIndex::find_anew(ByteView file,
                                                     const DirectoryLocation& imports,
                                                     const char* name,
                                                     std::size_t length) noexcept {
    const std::uint32_t hash = slot_hash(name, length);
    if (const Slot* slot = lookup(hash, name, length))
        return ImportedModule{slot->name, slot->length, slot->lookup_table};
    if (const Slot* slot = lookup_more(hash, name, length))
        return ImportedModule{slot->name, slot->length, slot->lookup_table};
    if (walk_ended_) return std::nullopt;

    // Not among the modules passed so far: walk on, indexing as it goes.
    while (indexed_ < module_capacity || room_for_more()) {
        const auto module = walk_->next();
        if (!module) {
            walk_ended_ = true;
            return std::nullopt;
        }
        // A module of this name passed earlier would have been found above,
        // so this is the first. A host asks in list order, so it is
        // usually the next one, whose hash is then the request's.
        const bool wanted = same_name(*module, name, length);
        const std::uint32_t module_hash =
            wanted ? hash : slot_hash(module->name, module->name_length);
        if (indexed_ < module_capacity) {
            index_passed(file, imports, module_hash, *module);
        } else {
            add_more(module_hash, *module);
            ++walked_;
        }
        if (wanted) return module;
    }
    // The heap refused: the modules after the indexed ones are walked for
    // every lookup that misses the index.
    ModuleWalk rest = *walk_;
    while (const auto module = rest.next())
        if (same_name(*module, name, length)) return module;
    return std::nullopt;
}

}  // namespace korvex::image
