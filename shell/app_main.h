// Start-up: the single-instance guard, the settings pass, the hidden window
// and the message loop.
#pragma once

#include <windows.h>

extern HINSTANCE g_hInstance;
extern HANDLE g_instanceMutex; // kept open, never owned, until the process ends
extern HICON g_appIcon;        // the class icon, at the system's icon size
extern HICON g_smallIcon;      // 16x16: the small class icon and the notification icon
extern HMENU g_trayMenu;       // submenu 0 of the tray menu
// The system code page is 932, so the Shift-JIS texts read as written; on
// any other Windows the program speaks English.
extern bool g_japanese;

// The process exit code after the message that the system refuses the port
// instructions (the NT family without a port driver).
const int EXIT_PORTS_REFUSED = -997;

// Returns the process exit code: 0, or -998 / -999 for a missing icon / menu.
int app_main(HINSTANCE instance);
