// The formats a file that does not begin with MZ is most often in, named from
// its first bytes, so that a Linux library, a macOS binary or an archive met
// in a walk is called what it is rather than only "not MZ".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvex::host {

// The bytes other_format looks at: the longest signature it knows.
inline constexpr std::size_t format_signature_size = 8;

// What a file beginning with `start` is, in words that follow "is"
// ("an ELF file (a Linux or Unix program or library)", "a Mach-O file (a
// macOS program or library)", "a ZIP archive"), or empty when korvex does
// not know its signature. Only whole signatures count: a file shorter than
// one is not named by it.
std::string other_format(std::string_view start);

}  // namespace korvex::host
