/* zapp.exe: a MinGW program linked with zlib (zlib1.dll) that loads a module
   built the way MSVC builds them (vcmod.dll, which needs VCRUNTIME140.dll).
   Prints "zapp <zlib version> 42" and exits 0 when everything it imports is
   there. */
#include <stdio.h>

const char* zlibVersion(void);
int compress(unsigned char* out, unsigned long* out_size, const unsigned char* in,
             unsigned long in_size);
int vc_value(void);

int main(void) {
    unsigned char out[64];
    unsigned long size = sizeof out;
    if (compress(out, &size, (const unsigned char*)"zzzzzzzzzzzzzzzz", 16) != 0) return 2;
    printf("zapp %s %d\n", zlibVersion(), vc_value());
    return 0;
}
