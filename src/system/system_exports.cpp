// TerminateProc and GetVersionEx32: thin passes to the platform, no state.
#include "korvex32.h"
#include "os/process_source.h"

extern "C" int32_t KORVEX_API TerminateProc(uint32_t processId) {
    return korvex::os::terminate_process(processId);
}

extern "C" int32_t KORVEX_API GetVersionEx32(void* info) {
    // GetVersionExA faults on a null record; answer as for a refused call.
    if (info == nullptr) return 0;
    return korvex::os::get_version_record(info);
}
