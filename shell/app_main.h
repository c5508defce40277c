// Start-up: the single-instance guard, the settings pass, the hidden window
// and the message loop.
#pragma once

#include <windows.h>

extern HINSTANCE g_hInstance;
extern HANDLE g_instanceMutex; // kept open, never owned, until the process ends
extern HICON g_appIcon;        // class icons and the notification icon
extern HMENU g_trayMenu;       // submenu 0 of the tray menu

// Returns the process exit code: 0, or -998 / -999 for a missing icon / menu.
int app_main(HINSTANCE instance);
