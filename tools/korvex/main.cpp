// korvex: command-line host of the korvex32 library.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "library.h"

namespace {

using korvex::host::Library;

constexpr int exit_ok = 0;
constexpr int exit_library_failure = 1;
constexpr int exit_usage = 2;

const char* describe_kind(int32_t code) {
    switch (code) {
        case KORVEX_IMAGE_PE: return "PE";
        case KORVEX_IMAGE_NE: return "NE";
        case KORVEX_IMAGE_LE: return "LE";
        case KORVEX_IMAGE_MZ: return "MZ";
        case KORVEX_MAP_OPEN_FAILED: return "the file could not be opened";
        case KORVEX_MAP_MAPPING_FAILED: return "the file could not be mapped (is it empty?)";
        case KORVEX_MAP_VIEW_FAILED: return "the file could not be viewed";
        case KORVEX_MAP_NOT_MZ: return "not an executable (no MZ header)";
        default: return "unknown";
    }
}

int run_kind(const Library& library, int count, char** files) {
    int status = exit_ok;
    for (int i = 0; i < count; ++i) {
        const int32_t code = library.map_file(files[i]);
        library.unmap_file(0);
        if (code < 0) {
            std::fprintf(stderr, "korvex: %s: %s.\n", files[i], describe_kind(code));
            status = exit_library_failure;
        } else {
            std::printf("%s: %s\n", files[i], describe_kind(code));
        }
    }
    return status;
}

int run_osversion(const Library& library) {
    KorvexOsVersionInfo info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (library.get_version(&info) == 0) {
        std::fprintf(stderr, "korvex: the operating system did not give its version.\n");
        return exit_library_failure;
    }
    std::printf("%u.%u build %u, platform %u%s%s\n", info.dwMajorVersion, info.dwMinorVersion,
                info.dwBuildNumber, info.dwPlatformId, info.szCSDVersion[0] ? ", " : "",
                info.szCSDVersion);
    return exit_ok;
}

int usage(FILE* out) {
    std::fprintf(out,
                 "usage: korvex kind FILE...   tell the kind of each executable\n"
                 "       korvex osversion      print the operating system's version\n");
    return out == stdout ? exit_ok : exit_usage;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage(stderr);
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") return usage(stdout);

    Library library;
    std::string error;
    if (!korvex::host::load_library(library, error)) {
        std::fprintf(stderr, "korvex: %s\n", error.c_str());
        return exit_library_failure;
    }
    if (command == "kind" && argc >= 3) return run_kind(library, argc - 2, argv + 2);
    if (command == "osversion" && argc == 2) return run_osversion(library);
    return usage(stderr);
}
