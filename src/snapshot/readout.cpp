#include "snapshot/readout.h"

namespace korvex::snapshot {

namespace {
constinit ReadoutState g_readout{};
}  // namespace

ReadoutState& readout_state() noexcept { return g_readout; }

void rewind_readout() noexcept {
    g_readout.process_cursor = 0;
    g_readout.module_cursor = 0;
    g_readout.process_filter = 0;
}

}  // namespace korvex::snapshot
