// Whether Windows itself ships a DLL, and whether the loader takes it from
// the system folder whatever lies beside the program (a KnownDLL). Names are
// the lower-case file names ("kernel32.dll").
#pragma once

#include <string>

namespace korvex::host {

bool shipped_by_windows(const std::string& lower_name);

// The Windows version that first shipped the DLL ("Vista", "10"); empty when
// not recorded or not shipped.
const char* windows_since(const std::string& lower_name);

// "part of Windows 7 and later" ("part of Windows" when the version is not
// recorded) for a DLL Windows ships; empty for any other.
std::string part_of_windows(const std::string& lower_name);

bool is_known_dll(const std::string& lower_name);

// The tables are searched by halves; a test keeps them sorted.
bool tables_are_sorted();

}  // namespace korvex::host
