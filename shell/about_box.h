// The About box "ABOUTDIALOG": closed by OK (or Enter) and by nothing else.
#pragma once

#include <windows.h>

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
