/* Asks for Common Controls 6 through its manifest: the loader takes
   comctl32.dll from the WinSxS store, not from the system folder. */
#include <windows.h>

/* After windows.h, whose types it takes. */
#include <commctrl.h>

int main(void) {
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_WIN95_CLASSES};
    return InitCommonControlsEx(&init) ? 0 : 1;
}
