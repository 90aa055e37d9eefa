// The exports as linked into this program (the portable core), for the
// checks shared with the host tests, which bind the same table by ordinal.
#pragma once

#include "export_table.h"

namespace korvex::test {

inline const ExportFunctions& linked_exports() {
    static const ExportFunctions exports = [] {
        ExportFunctions linked;
#define KORVEX_LINKED_EXPORT(name, ordinal, member) linked.member = &::name;
        KORVEX_EXPORT_TABLE(KORVEX_LINKED_EXPORT)
#undef KORVEX_LINKED_EXPORT
        return linked;
    }();
    return exports;
}

}  // namespace korvex::test
