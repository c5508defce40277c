// Resource, command and message identifiers, shared by sorvenka.rc and the
// program. Include <windows.h> first.
#pragma once

#define IDR_TRAYMENU 102      // menu: one popup, only its submenu is used
#define IDI_APP 103           // icon group: 32x32 and 16x16, 16 colours
#define IDD_ABOUT_ENGLISH 104 // the About box in a font every Windows has

#define IDM_VERSION 40001
#define IDM_EXIT 40002

// The hidden window's class (and title) and the mutex that finds another copy.
#define TRAY_CLASS_NAME "Korvane Traskell"
#define INSTANCE_MUTEX_NAME "Korvane"
// The global atom of a run whose bytes are changed.
#define CHANGED_MARKER_NAME "Korvane Changed"

#define ID_TRAYICON 1001
// Timer of the hidden window, and its period: it asks for the icon again
// while the taskbar refuses it or once another taskbar window has come.
#define IDT_TRAYCHECK 1
#define TRAYCHECK_MS 3000
// Private window messages start at WM_APP (0x8000): 0x8064.
#define WM_TRAYNOTIFY (WM_APP + 100)
