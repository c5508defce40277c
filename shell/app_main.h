// Start-up: the single-instance guard, the settings pass, the hidden window
// and the message loop.
#pragma once

#include <windows.h>

extern HINSTANCE g_hInstance;
extern HICON g_smallIcon; // 16x16: the small class icon and the notification icon
extern HMENU g_trayMenu;  // submenu 0 of the tray menu
// The system code page is 932, so the Shift-JIS texts read as written; on
// any other Windows the program speaks English.
extern bool g_japanese;

// Process exit codes after a message, none of them with a byte changed:
// the system refuses the port instructions (the NT family without a port
// driver, or a driver that opens some of them: what was applied is back);
// an earlier run ended with its bytes changed; 0xCF8 is no Mechanism #1.
const int EXIT_PORTS_REFUSED = -997;
const int EXIT_LAST_RUN_UNRESTORED = -996;
const int EXIT_NO_MECHANISM1 = -995;

// Returns the process exit code: 0, one of the above, or -998 / -999 for a
// missing icon / menu.
int app_main(HINSTANCE instance);

// Every journalled byte back, then the marker deleted; once only, later
// calls (a fault after the shutdown, say) do nothing.
void restore_settings();
