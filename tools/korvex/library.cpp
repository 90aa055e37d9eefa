#include "library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <climits>
#include <unistd.h>
#endif

namespace korvex::host {

namespace {

#ifdef _WIN32
std::string folder_of_this_program() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    const auto slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

struct Binder {
    HMODULE module;
    template <typename Function>
    bool operator()(Function& function, int ordinal, const char*) const {
        function = reinterpret_cast<Function>(
            reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
        return function != nullptr;
    }
};

void* open_library(std::string& error) {
    const std::string path = folder_of_this_program() + "korvex32.dll";
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) error = "cannot load " + path;
    return module;
}
#else
std::string folder_of_this_program() {
    char path[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string folder(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    const auto slash = folder.rfind('/');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

struct Binder {
    void* module;
    template <typename Function>
    bool operator()(Function& function, int, const char* name) const {
        function = reinterpret_cast<Function>(dlsym(module, name));
        return function != nullptr;
    }
};

void* open_library(std::string& error) {
    const std::string path = folder_of_this_program() + "libkorvex32.so";
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) error = dlerror();
    return module;
}
#endif

}  // namespace

bool load_library(Library& library, std::string& error) {
    void* module = open_library(error);
    if (module == nullptr) return false;
    const Binder bind{static_cast<decltype(Binder::module)>(module)};
    const bool complete = bind(library.map_file, 30, "MapFile") &&
                          bind(library.unmap_file, 31, "UnmapFile") &&
                          bind(library.get_version, 40, "GetVersionEx32") &&
                          bind(library.terminate_process, 41, "TerminateProc");
    if (!complete) error = "the library lacks an export this program needs";
    return complete;
}

}  // namespace korvex::host
