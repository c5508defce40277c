#include "tray_window.h"

#include "about_box.h"
#include "app_main.h"
#include "pci_config.h"
#include "resource.h"

// The first published NOTIFYICONDATA, tip of 64 characters: every shell
// from Windows 95 on accepts it.
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "NOTIFYICONDATAA version 1 is 88 bytes");
static_assert(WM_TRAYNOTIFY == 0x8064, "tray callback message");

NOTIFYICONDATAA g_nid;
POINT g_cursorPos;

void shutdown_sequence()
{
    // Bytes first: the session may end as soon as the icon is gone.
    journal_restore();
    Shell_NotifyIconA(NIM_DELETE, &g_nid);
    PostQuitMessage(0);
}

static void add_tray_icon(HWND hwnd)
{
    g_nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
    g_nid.hWnd = hwnd;
    g_nid.uID = ID_TRAYICON;
    g_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    g_nid.uCallbackMessage = WM_TRAYNOTIFY;
    g_nid.hIcon = g_appIcon;
    lstrcpyA(g_nid.szTip, "Sorvenka");
    Shell_NotifyIconA(NIM_ADD, &g_nid);
}

static void open_tray_menu(HWND hwnd)
{
    GetCursorPos(&g_cursorPos);
    // Without this the menu would stay open after a click elsewhere.
    SetForegroundWindow(hwnd);
    TrackPopupMenu(g_trayMenu, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, g_cursorPos.x, g_cursorPos.y, 0,
                   hwnd, nullptr);
}

LRESULT CALLBACK TrayWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CREATE:
        add_tray_icon(hwnd);
        return 0;
    case WM_DESTROY:
        shutdown_sequence();
        return 0;
    case WM_QUERYENDSESSION:
        // The bytes are back already; TRUE lets the session end.
        shutdown_sequence();
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDM_VERSION)
            DialogBoxParamA(g_hInstance, "ABOUTDIALOG", hwnd, AboutDialogProc, 0);
        else if (LOWORD(wParam) == IDM_EXIT)
            shutdown_sequence();
        return 0;
    case WM_TRAYNOTIFY:
        // lParam is the mouse message; wParam (the icon's ID) needs no test.
        if (static_cast<UINT>(lParam) == WM_LBUTTONDOWN ||
            static_cast<UINT>(lParam) == WM_RBUTTONDOWN)
            open_tray_menu(hwnd);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
