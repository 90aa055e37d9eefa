#include "test_seams.h"

namespace korvex::os {

namespace {
// Null means the platform's source; tests install a fake here.
constinit ProcessSource* g_installed = nullptr;
}  // namespace

ProcessSource& process_source() noexcept {
    return g_installed != nullptr ? *g_installed : platform_process_source();
}

void set_process_source(ProcessSource* source) noexcept { g_installed = source; }

}  // namespace korvex::os
