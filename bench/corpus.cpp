#include "corpus.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace korvex::bench {

Corpus list_corpus(const std::string& folder) {
    Corpus corpus;
    corpus.folder = folder;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (!entry.is_regular_file()) continue;
        corpus.files.push_back(entry.path().string());
        corpus.bytes += entry.file_size();
    }
    std::sort(corpus.files.begin(), corpus.files.end());
    if (corpus.files.empty()) {
        std::fprintf(stderr, "no files in %s\n", folder.c_str());
        std::exit(1);
    }
    return corpus;
}

}  // namespace korvex::bench
