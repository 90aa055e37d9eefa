#include "snapshot/version_switch.h"

#include <cstdint>

#include "korvex32.h"

namespace {
// Stored as given, so the value a host set reads back unchanged.
constinit std::int32_t g_version_switch = 1;
}  // namespace

namespace korvex::snapshot {

bool version_numbers_wanted() noexcept { return g_version_switch != 0; }

}  // namespace korvex::snapshot

// Any value but 0 turns the lookup on (2 and -1 included). It applies from
// the next capture on; records already captured keep what they have.
extern "C" int32_t KORVEX_API SetGetVersionNumber(int32_t flag) {
    g_version_switch = flag;
    return flag;
}
