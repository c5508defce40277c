// Resource, command and message identifiers, shared by sorvenka.rc and the
// program. Include <windows.h> first.
#pragma once

#define IDR_TRAYMENU 102 // menu: one popup, only its submenu is used
#define IDI_APP 103      // icon group: 32x32 and 16x16, 16 colours

#define IDM_VERSION 40001
#define IDM_EXIT 40002

// The hidden window's class (and title) and the mutex that finds another copy.
#define TRAY_CLASS_NAME "Korvane Traskell"
#define INSTANCE_MUTEX_NAME "Korvane"

#define ID_TRAYICON 1001
// Timer of the hidden window that tries the icon again while the taskbar
// refuses it, and its period.
#define IDT_TRAYRETRY 1
#define TRAYRETRY_MS 2000
// Private window messages start at WM_APP (0x8000): 0x8064.
#define WM_TRAYNOTIFY (WM_APP + 100)
