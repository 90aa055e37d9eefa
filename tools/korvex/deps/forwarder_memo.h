// What one export of one module of a walk turned out to be, kept so that a
// function imported many times, or reached through many forwarders, is
// looked up once: the export table's answer and, for a forwarder, the
// module and export it leads to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "pe/input_budget.h"

namespace korvex::host {

// An export asked of a walk's node: by name (a view into a module file the
// resolver holds), or by ordinal.
struct ExportKey {
    std::size_t node = 0;
    std::string_view name;
    std::uint16_t ordinal = 0;
    bool by_ordinal = false;

    bool operator==(const ExportKey&) const = default;
};

struct ExportKeyHash {
    std::size_t operator()(const ExportKey& key) const {
        const std::size_t name =
            key.by_ordinal ? key.ordinal : std::hash<std::string_view>{}(key.name);
        return name ^ (key.node * 0x9E3779B97F4A7C15ull) ^ (key.by_ordinal ? 0x5bd1e995u : 0);
    }
};

struct ExportAnswer {
    enum class Kind : std::uint8_t { code, missing, forwarder };
    Kind kind = Kind::missing;
    std::string module;  // forwarder: the module forwarded to, with ".dll" when it had no extension
    std::string_view name;      // forwarder: the export there, by name ...
    std::uint16_t ordinal = 0;  // ... or by ordinal
    bool by_ordinal = false;
};

// At most max_entries answers are kept; past them each lookup is made
// afresh, which costs time, never correctness.
class ForwarderMemo {
public:
    static constexpr std::size_t max_entries = 65536;
    // What one kept answer costs, beside its module name.
    static constexpr std::size_t entry_bytes =
        wide_size<ExportKey, 32>() + wide_size<ExportAnswer, 64>() + 64;

    [[nodiscard]] const ExportAnswer* find(const ExportKey& key) const {
        const auto found = answers_.find(key);
        return found == answers_.end() ? nullptr : &found->second;
    }
    // False when the memo is full (the answer is not kept).
    bool keep(const ExportKey& key, const ExportAnswer& answer) {
        if (answers_.size() >= max_entries) return false;
        answers_.emplace(key, answer);
        return true;
    }

private:
    std::unordered_map<ExportKey, ExportAnswer, ExportKeyHash> answers_;
};

}  // namespace korvex::host
