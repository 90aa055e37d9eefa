// The file facts already looked up during the running capture, by upper-cased
// long path. Most modules are loaded into many processes from the same file;
// each file is then searched, shortened, converted and version-read once per
// capture instead of once per process. The cache lives only inside one
// capture: nothing is kept between captures, so every capture sees the files
// as they are.
#pragma once

#include "snapshot/module_file_facts.h"

namespace korvex::snapshot {

// Starts an empty cache; lookups and stores before this do nothing.
void begin_file_facts_cache() noexcept;

// Releases the cache's storage; later lookups find nothing.
void end_file_facts_cache() noexcept;

// The facts stored for `upper_path`, or null.
const FileFacts* find_cached_file_facts(const char* upper_path) noexcept;

// Stores the facts of `upper_path`. When storage for a larger cache cannot be
// had, the facts are simply not kept: a later module of the same file is
// looked up again, with the same result.
void remember_file_facts(const char* upper_path, const FileFacts& facts) noexcept;

}  // namespace korvex::snapshot
