// Start-up: the single-instance guard, the settings pass, the hidden window
// and the message loop.
#pragma once

#include <windows.h>

extern HINSTANCE g_hInstance;
extern HANDLE g_instanceMutex; // kept open, never owned, until the process ends
extern HICON g_appIcon;        // class icons and the notification icon
extern HMENU g_trayMenu;       // submenu 0 of the tray menu
// The system code page is 932, so the Shift-JIS texts read as written; on
// any other Windows the program speaks English.
extern bool g_japanese;

// Returns the process exit code: 0, or -998 / -999 for a missing icon / menu.
int app_main(HINSTANCE instance);
