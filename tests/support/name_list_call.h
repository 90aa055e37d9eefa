// Calls a name-list function the way a host does (size query, then a fill
// into a buffer of the answered size) and records what it saw, guard bytes
// after the buffer included. Header-only so the fuzz targets can use it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korvex::test {

using ListFunction = std::function<std::int32_t(char*)>;

struct ListCall {
    std::int32_t query = 0;            // answer of the size query
    std::int32_t fill = 0;             // answer of the fill
    bool query_wrote = false;          // the size query changed its request buffer
    bool guard_intact = true;          // nothing written at or past max(query, 1)
    bool fill_wrote = false;           // the fill changed anything at all
    bool well_formed = false;          // fill > 0: the list ends with two NULs at fill - 2
    std::vector<std::uint8_t> list;    // the first max(fill, 1) bytes after the fill
    std::vector<std::string> entries;  // when well formed
};

namespace detail {

inline constexpr std::size_t guard_size = 16;
inline constexpr std::uint8_t guard_byte = 0xA5;

inline void finish_fill(ListCall& call, const std::vector<char>& before,
                        const std::vector<char>& after) {
    const std::size_t owned = static_cast<std::size_t>(std::max(call.query, 1));
    call.fill_wrote = before != after;
    call.guard_intact =
        std::equal(before.begin() + static_cast<std::ptrdiff_t>(owned), before.end(),
                   after.begin() + static_cast<std::ptrdiff_t>(owned));
    const std::size_t kept = static_cast<std::size_t>(std::max(call.fill, 1));
    call.list.assign(after.begin(),
                     after.begin() + static_cast<std::ptrdiff_t>(std::min(kept, after.size())));
    if (call.fill >= 3 && static_cast<std::size_t>(call.fill) <= after.size() &&
        after[static_cast<std::size_t>(call.fill) - 1] == 0 &&
        after[static_cast<std::size_t>(call.fill) - 2] == 0) {
        call.well_formed = true;
        const char* p = after.data();
        const char* end = after.data() + call.fill - 1;
        while (p < end) {
            const std::size_t length = std::strlen(p);
            call.entries.emplace_back(p, length);
            p += length + 1;
        }
    }
}

}  // namespace detail

// For the lists whose size query is a null buffer.
inline ListCall call_list(const ListFunction& list) {
    ListCall call;
    call.query = list(nullptr);
    const std::size_t size = static_cast<std::size_t>(std::max(call.query, 1)) + detail::guard_size;
    std::vector<char> buffer(size, static_cast<char>(detail::guard_byte));
    const std::vector<char> before = buffer;
    call.fill = list(buffer.data());
    detail::finish_fill(call, before, buffer);
    return call;
}

// For the function list of one module: the request is a mode byte ('0' for
// the size query, '1' for the fill) followed by the module's name and a NUL.
inline ListCall call_module_list(const ListFunction& list, std::string_view module) {
    ListCall call;
    std::vector<char> request(module.size() + 2 + detail::guard_size,
                              static_cast<char>(detail::guard_byte));
    request[0] = '0';
    std::memcpy(request.data() + 1, module.data(), module.size());
    request[module.size() + 1] = 0;
    const std::vector<char> query_before = request;
    call.query = list(request.data());
    call.query_wrote = request != query_before;

    const std::size_t size =
        std::max<std::size_t>(static_cast<std::size_t>(std::max(call.query, 1)),
                              module.size() + 2) +
        detail::guard_size;
    std::vector<char> buffer(size, static_cast<char>(detail::guard_byte));
    buffer[0] = '1';
    std::memcpy(buffer.data() + 1, module.data(), module.size());
    buffer[module.size() + 1] = 0;
    const std::vector<char> before = buffer;
    call.fill = list(buffer.data());
    detail::finish_fill(call, before, buffer);
    return call;
}

}  // namespace korvex::test
