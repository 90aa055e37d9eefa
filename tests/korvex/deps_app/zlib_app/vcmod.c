/* vcmod.dll: imports from VCRUNTIME140.dll what an MSVC-built DLL imports
   (memset, __std_type_info_destroy_list), without MinGW's C runtime. */
#include <stddef.h>

void* memset(void* to, int value, size_t size);
void __std_type_info_destroy_list(void* list);

__declspec(dllexport) int vc_value(void) {
    char bytes[8];
    memset(bytes, 7, sizeof bytes);
    return bytes[3] * 6;
}

int __stdcall vc_entry(void* module, unsigned reason, void* reserved) {
    (void)module;
    (void)reserved;
    if (reason == 0) __std_type_info_destroy_list(NULL);
    return 1;
}
