#include "snapshot/file_facts_cache.h"

#include <cstdint>
#include <cstring>

#include "snapshot/fixed_text.h"
#include "snapshot/storage.h"

namespace korvex::snapshot {

namespace {

struct Slot {
    bool used;
    std::uint32_t hash;
    char path[261];
    FileFacts facts;
};

// Open addressing with linear probing in a power-of-two table that is never
// more than three quarters full.
struct Cache {
    bool active;
    Slot* slots;
    std::uint32_t capacity;
    std::uint32_t used;
};
constinit Cache g_cache{};

constexpr std::uint32_t first_capacity = 64;
// Far beyond the distinct files of any real system; past it nothing more is kept.
constexpr std::uint32_t largest_capacity = 1u << 20;

std::uint32_t hash_of(const char* path) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (std::size_t i = 0; i < sizeof Slot::path - 1 && path[i] != '\0'; ++i)
        hash = (hash ^ static_cast<unsigned char>(path[i])) * 16777619u;
    return hash;
}

bool same_path(const Slot& slot, const char* path) {
    return std::strncmp(slot.path, path, sizeof slot.path - 1) == 0;
}

// The slot holding `path`, or the empty slot where it would go.
Slot& slot_for(Slot* slots, std::uint32_t capacity, std::uint32_t hash, const char* path) {
    std::uint32_t index = hash & (capacity - 1);
    while (slots[index].used && (slots[index].hash != hash || !same_path(slots[index], path)))
        index = (index + 1) & (capacity - 1);
    return slots[index];
}

bool grow() {
    if (g_cache.capacity >= largest_capacity) return false;
    const std::uint32_t capacity = g_cache.capacity == 0 ? first_capacity : g_cache.capacity * 2;
    auto* slots = static_cast<Slot*>(obtain_storage(std::size_t{capacity} * sizeof(Slot)));
    if (slots == nullptr) return false;
    for (std::uint32_t i = 0; i < capacity; ++i) slots[i].used = false;
    for (std::uint32_t i = 0; i < g_cache.capacity; ++i) {
        const Slot& old = g_cache.slots[i];
        if (old.used) std::memcpy(&slot_for(slots, capacity, old.hash, old.path), &old, sizeof old);
    }
    release_storage(g_cache.slots);
    g_cache.slots = slots;
    g_cache.capacity = capacity;
    return true;
}

}  // namespace

void begin_file_facts_cache() noexcept {
    end_file_facts_cache();
    g_cache.active = true;
}

void end_file_facts_cache() noexcept {
    release_storage(g_cache.slots);
    g_cache = Cache{};
}

const FileFacts* find_cached_file_facts(const char* upper_path) noexcept {
    if (g_cache.used == 0) return nullptr;
    const Slot& slot = slot_for(g_cache.slots, g_cache.capacity, hash_of(upper_path), upper_path);
    return slot.used ? &slot.facts : nullptr;
}

void remember_file_facts(const char* upper_path, const FileFacts& facts) noexcept {
    if (!g_cache.active) return;
    if ((g_cache.used + 1) * 4 > g_cache.capacity * 3 && !grow()) return;
    const std::uint32_t hash = hash_of(upper_path);
    Slot& slot = slot_for(g_cache.slots, g_cache.capacity, hash, upper_path);
    if (!slot.used) ++g_cache.used;
    slot.used = true;
    slot.hash = hash;
    copy_text(slot.path, upper_path, sizeof slot.path);
    slot.facts = facts;
}

}  // namespace korvex::snapshot
