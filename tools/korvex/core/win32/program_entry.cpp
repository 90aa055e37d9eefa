// The program's entry under Windows. The arguments arrive as UTF-16 and are
// given to korvex in the ANSI code page, by their 8.3 names where that code
// page cannot spell them.
#include <string>
#include <vector>

#include "core/host_os.h"

// Left to itself the MinGW runtime would expand * and ? in every argument
// against the current folder, patterns for names included: korvex expands
// FILE arguments itself (expand_file_argument).
extern "C" {
int _dowildcard = 0;
}

int wmain(int argc, wchar_t** wide_argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(korvex::host::ansi_argument(wide_argv[i]));
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    return korvex::host::run_korvex(argc, argv.data());
}
