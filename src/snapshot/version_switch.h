// The version-number switch: whether a capture reads module file versions.
// SetGetVersionNumber (korvex32.h) sets it; it is 1 when the library loads.
#pragma once

namespace korvex::snapshot {

// True unless the switch was last set to 0.
bool version_numbers_wanted() noexcept;

}  // namespace korvex::snapshot
