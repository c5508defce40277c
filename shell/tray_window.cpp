#include "tray_window.h"

#include "about_box.h"
#include "app_main.h"
#include "pci_config.h"
#include "resource.h"

// The first published NOTIFYICONDATA, tip of 64 characters: every shell
// from Windows 95 on accepts it.
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "NOTIFYICONDATAA version 1 is 88 bytes");
static_assert(WM_TRAYNOTIFY == 0x8064, "tray callback message");

UINT g_taskbarCreated;

static NOTIFYICONDATAA g_nid;
static POINT g_cursorPos;      // where the popup menu opens
static HWND g_taskbar;         // the taskbar window that took the icon,
static DWORD g_taskbarThread;  // its thread
static DWORD g_taskbarProcess; // and its process
static bool g_restored;        // the shutdown has put every byte back

static const char TASKBAR_CLASS[] = "Shell_TrayWnd";

void shutdown_sequence()
{
    // Bytes first: the session may end as soon as the icon is gone.
    restore_settings();
    g_restored = true;
    KillTimer(g_nid.hWnd, IDT_TRAYCHECK);
    Shell_NotifyIconA(NIM_DELETE, &g_nid);
    PostQuitMessage(0);
}

// The taskbar window now, and whether it is the one that took the icon. A
// window handle of Windows 9x is 16 bits and comes back: a taskbar that
// died and came back within a tick may have the old one, but its thread
// and process are new. Nothing here sends the shell a message: a hung
// Explorer would block the program on every tick.
static HWND taskbar_now(DWORD *thread, DWORD *process)
{
    HWND bar = FindWindowA(TASKBAR_CLASS, nullptr);
    *process = 0;
    *thread = GetWindowThreadProcessId(bar, process);
    return bar;
}

static bool taskbar_changed()
{
    DWORD thread, process;
    HWND bar = taskbar_now(&thread, &process);
    return bar != g_taskbar || thread != g_taskbarThread || process != g_taskbarProcess;
}

// The icon is the only way to reach Exit, so a taskbar that is not there yet
// (or busy: Windows 9x gives up on a slow one) is asked again on the next
// tick until it takes the icon. An add that timed out may still have been
// carried out: an icon that can be modified is there. The taskbar that has
// it is kept: a restarted Explorer makes a new one, and the shell of
// Windows 95 before Internet Explorer 4 announces it to nobody.
static void show_tray_icon(HWND hwnd)
{
    if (Shell_NotifyIconA(NIM_ADD, &g_nid) || Shell_NotifyIconA(NIM_MODIFY, &g_nid))
        g_taskbar = taskbar_now(&g_taskbarThread, &g_taskbarProcess);
    else
        g_taskbar = hwnd; // never a taskbar: the next tick asks again
}

static void add_tray_icon(HWND hwnd)
{
    g_nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
    g_nid.hWnd = hwnd;
    g_nid.uID = ID_TRAYICON;
    g_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    g_nid.uCallbackMessage = WM_TRAYNOTIFY;
    g_nid.hIcon = g_smallIcon;
    lstrcpyA(g_nid.szTip, "Sorvenka");
    show_tray_icon(hwnd);
    SetTimer(hwnd, IDT_TRAYCHECK, TRAYCHECK_MS, nullptr);
}

static void open_tray_menu(HWND hwnd)
{
    GetCursorPos(&g_cursorPos);
    // Without this the menu would stay open after a click elsewhere.
    SetForegroundWindow(hwnd);
    TrackPopupMenu(g_trayMenu, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, g_cursorPos.x, g_cursorPos.y, 0,
                   hwnd, nullptr);
    // Windows 95 needs a task switch to this window after the menu, or the
    // menu stays up or closes at once the next time (Microsoft's Q135788).
    PostMessageA(hwnd, WM_NULL, 0, 0);
}

LRESULT CALLBACK TrayWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    // A new taskbar has none of the old one's icons; after the shutdown
    // the icon stays gone.
    if (msg == g_taskbarCreated && msg != 0) {
        if (!g_restored)
            show_tray_icon(hwnd);
        return 0;
    }
    switch (msg) {
    case WM_CREATE:
        add_tray_icon(hwnd);
        return 0;
    case WM_DESTROY:
        shutdown_sequence();
        return 0;
    case WM_QUERYENDSESSION:
        // Only a question: another program may still cancel the end, and
        // WM_ENDSESSION tells which way it went.
        return TRUE;
    case WM_ENDSESSION:
        if (wParam)
            shutdown_sequence();
        return 0;
    case WM_TIMER:
        if (wParam == IDT_TRAYCHECK && !g_restored && taskbar_changed())
            show_tray_icon(hwnd);
        return 0;
    case WM_POWERBROADCAST:
        // Suspends are never refused. On the way back the BIOS has set the
        // chipset up again and the settings are gone: they go in again,
        // unless the bytes are already back for good (a resume that comes
        // between the shutdown and the end of the message loop). Windows
        // 95's APM also says so after a standby, which some BIOSes carry
        // out as a suspend to RAM.
        if (!g_restored && (wParam == PBT_APMRESUMESUSPEND || wParam == PBT_APMRESUMECRITICAL ||
                            wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESTANDBY))
            journal_reapply();
        return TRUE;
    case WM_COMMAND:
        // "ＭＳ Ｐゴシック" exists on code page 932 only: elsewhere the same
        // box in MS Sans Serif, captioned in ASCII.
        if (LOWORD(wParam) == IDM_VERSION)
            DialogBoxParamA(g_hInstance,
                            g_japanese ? "ABOUTDIALOG" : MAKEINTRESOURCEA(IDD_ABOUT_ENGLISH), hwnd,
                            AboutDialogProc, 0);
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
