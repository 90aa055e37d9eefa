#include "os/files.h"

#include <windows.h>

namespace korvex::os {

void delete_file(const char* path) noexcept { DeleteFileA(path); }

}  // namespace korvex::os
