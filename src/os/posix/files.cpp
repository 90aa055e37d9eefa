#include "os/files.h"

#include <unistd.h>

namespace korvex::os {

void delete_file(const char* path) noexcept { ::unlink(path); }

}  // namespace korvex::os
