#include "child_modes.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace korvex::host_test {

int run_child_mode(int argc, char** argv) {
    if (std::strcmp(argv[0], "try-write") == 0 && argc == 2) {
        HANDLE file = CreateFileA(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 1;
        CloseHandle(file);
        return 0;
    }
    if (std::strcmp(argv[0], "sleep") == 0 && argc == 2) {
        Sleep(static_cast<DWORD>(std::atoi(argv[1])));
        return 7;
    }
    return 99;
}

}  // namespace korvex::host_test
