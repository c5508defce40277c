// The hidden window: owner of the notification icon, target of its
// callback message, the menu commands, the end-of-session query and the
// power broadcasts.
#pragma once

#include <windows.h>

#include <shellapi.h> // after windows.h, which it needs

extern UINT g_taskbarCreated; // "TaskbarCreated", registered at start-up

LRESULT CALLBACK TrayWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Every changed byte back, the marker deleted, the timer stopped, the icon
// removed, a quit request with 0 posted.
void shutdown_sequence();
