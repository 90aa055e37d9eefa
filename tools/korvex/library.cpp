#include "library.h"

#include <vector>

#include "diagnosis.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

namespace korvex::host {

namespace {

#ifdef _WIN32
using Module = HMODULE;

std::string folder_of_this_program() {
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    const auto slash = folder.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

Module open_library(const std::string& path, std::string& error) {
    Module module = LoadLibraryA(path.c_str());
    if (module != nullptr) return module;
    const DWORD code = GetLastError();
    error =
        code == ERROR_MOD_NOT_FOUND && GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES
            ? "korvex32.dll was not found: it must be in the folder of korvex.exe (" + path + ")."
            : path + " could not be loaded (" + system_error_text(static_cast<int>(code)) + ").";
    return nullptr;
}

std::string version_record(const std::string& path) {
    DWORD ignored = 0;
    std::vector<char> record(GetFileVersionInfoSizeA(path.c_str(), &ignored));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (record.empty() ||
        !GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(record.size()), record.data()) ||
        !VerQueryValueA(record.data(), "\\", reinterpret_cast<void**>(&fixed), &size) ||
        size < sizeof *fixed)
        return {};
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionLS));
}

constexpr const char* library_file = "korvex32.dll";

void* find_export(Module module, int ordinal, const char*) {
    return reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)));
}
#else
using Module = void*;

std::string folder_of_this_program() {
    char path[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string folder(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    const auto slash = folder.rfind('/');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

Module open_library(const std::string& path, std::string& error) {
    Module module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module != nullptr) return module;
    error = access(path.c_str(), F_OK) != 0
                ? "libkorvex32.so was not found: it must be in the folder of korvex (" + path + ")."
                : path + " could not be loaded (" + dlerror() + ").";
    return nullptr;
}

std::string version_record(const std::string&) { return {}; }

constexpr const char* library_file = "libkorvex32.so";

// ELF has no ordinals: the native library is bound by name.
void* find_export(Module module, int, const char* name) { return dlsym(module, name); }
#endif

}  // namespace

bool load_library(Library& library, std::string& error) {
    library.path = folder_of_this_program() + library_file;
    const Module module = open_library(library.path, error);
    if (module == nullptr) return false;
    library.version = version_record(library.path);
    const char* missing = bind_exports(
        library, [&](int ordinal, const char* name) { return find_export(module, ordinal, name); });
    if (missing != nullptr) error = std::string("the library has no export ") + missing;
    return missing == nullptr;
}

}  // namespace korvex::host
