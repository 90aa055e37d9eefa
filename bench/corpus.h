// The files an inspection benchmark works through: every regular file of one
// folder, in name order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvex::bench {

struct Corpus {
    std::string folder;
    std::vector<std::string> files;
    std::uint64_t bytes = 0;
};

// Exits with a message when the folder holds no files.
Corpus list_corpus(const std::string& folder);

// The corpus of the comparison: Wine's 32-bit PE images.
inline constexpr const char* default_corpus_folder = "/usr/lib/i386-linux-gnu/wine/i386-windows";

}  // namespace korvex::bench
