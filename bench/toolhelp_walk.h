// The bare walk a capture is measured against: every process of the system
// and every module of each, as the platform lists them, with nothing done
// per module but reading the entry. On Windows it is Tool Help called
// directly; on Linux the /proc walk of the library's own process source,
// which has no cheaper equivalent.
#pragma once

namespace korvex::bench {

struct WalkCount {
    long processes = 0;
    long modules = 0;
};

WalkCount bare_process_and_module_walk();

}  // namespace korvex::bench
