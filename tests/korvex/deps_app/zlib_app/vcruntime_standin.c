/* A stand-in for Microsoft's VCRUNTIME140.dll with the two functions
   vcmod.dll takes from it (vcruntime_standin.def names them), so that the
   bundle can run under Wine with Wine's own copy hidden. */
#include <stddef.h>

void* standin_memset(void* to, int value, size_t size) {
    unsigned char* byte = to;
    while (size--) *byte++ = (unsigned char)value;
    return to;
}

void standin_destroy_list(void* list) { (void)list; }
