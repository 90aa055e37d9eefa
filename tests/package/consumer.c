/* Links korvex32 at load time through an import library and calls it. Exits
 * 0 when the calls reach the DLL and answer as documented. */
#include <stdio.h>

#include "korvex32.h"

int main(void) {
    KorvexOsVersionInfo info = {0};
    info.dwOSVersionInfoSize = sizeof info;
    const int version_ok = GetVersionEx32(&info) != 0;
    const int map_missing = MapFile("Z:\\no\\such\\file.exe");
    const int cleared = ClearCurSnapShot();
    const int unmapped = UnmapFile(0);
    printf("GetVersionEx32 %d, MapFile %d, ClearCurSnapShot %d, UnmapFile %d\n", version_ok,
           map_missing, cleared, unmapped);
    return version_ok && map_missing == KORVEX_MAP_OPEN_FAILED && cleared == 0 && unmapped == 0 ? 0
                                                                                                : 1;
}
