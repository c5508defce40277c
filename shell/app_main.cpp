#include "app_main.h"

#include "pci_config.h"
#include "resource.h"
#include "settings.h"
#include "tray_window.h"

HINSTANCE g_hInstance;
HANDLE g_instanceMutex;
HICON g_appIcon;
HICON g_smallIcon;
HMENU g_trayMenu;
bool g_japanese;

static const char MUTEX_NAME[] = INSTANCE_MUTEX_NAME;
static const char CLASS_NAME[] = TRAY_CLASS_NAME;
// "既に起動しています." in Shift-JIS: the window functions here are ANSI and
// the Japanese system code page is 932.
static const char ALREADY_RUNNING[] =
    "\x8A\xF9\x82\xC9\x8B\x4E\x93\xAE\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7.";
// "Windows 95, 98, Me または PCI のポートを開くドライバが必要です.", Shift-JIS.
static const char PORTS_REFUSED[] =
    "Windows 95, 98, Me \x82\xDC\x82\xBD\x82\xCD PCI \x82\xCC\x83|\x81[\x83g\x82\xF0\x8AJ\x82\xAD"
    "\x83h\x83\x89\x83\x43\x83o\x82\xAA\x95K\x97v\x82\xC5\x82\xB7.";

// One call both tests and takes the name, so two copies started together
// cannot both pass. A refused creation is taken as another copy too.
static bool another_copy_runs()
{
    // A stale error code left by the loader must not read as a second copy.
    SetLastError(0);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, MUTEX_NAME);
    if (mutex && GetLastError() != ERROR_ALREADY_EXISTS) {
        g_instanceMutex = mutex;
        return false;
    }
    MessageBoxA(nullptr, g_japanese ? ALREADY_RUNNING : "Already running.", "CAUTION",
                MB_OK | MB_ICONWARNING);
    if (mutex)
        CloseHandle(mutex);
    return true;
}

// The NT family refuses IN and OUT to a program without a port driver, and
// the first access to 0xCF8 faults before any byte is written. The system
// names that fault a privileged instruction (some emulators an illegal one);
// only a fault at IN or OUT (opcodes E4-E7, EC-EF) is taken for it, so an
// NT system whose driver opens the ports runs on, and any other fault still
// reaches the system's own handling.
static LONG WINAPI PortFaultProc(EXCEPTION_POINTERS *info)
{
    const EXCEPTION_RECORD *r = info->ExceptionRecord;
    if ((r->ExceptionCode != EXCEPTION_PRIV_INSTRUCTION &&
         r->ExceptionCode != EXCEPTION_ILLEGAL_INSTRUCTION) ||
        (*static_cast<const unsigned char *>(r->ExceptionAddress) & 0xF4) != 0xE4)
        return EXCEPTION_CONTINUE_SEARCH;
    MessageBoxA(nullptr,
                g_japanese ? PORTS_REFUSED
                           : "Sorvenka needs Windows 95, 98 or Me, or a driver that opens the "
                             "PCI ports.",
                "Sorvenka", MB_OK | MB_ICONSTOP);
    ExitProcess(static_cast<UINT>(EXIT_PORTS_REFUSED));
}

// Windows hands the menu's UTF-16 texts to an ANSI program in the system code
// page: outside code page 932 both items would read "????".
static void use_english_menu()
{
    ModifyMenuA(g_trayMenu, IDM_VERSION, MF_BYCOMMAND | MF_STRING, IDM_VERSION, "Version");
    ModifyMenuA(g_trayMenu, IDM_EXIT, MF_BYCOMMAND | MF_STRING, IDM_EXIT, "Exit");
}

static HICON load_icon(int size)
{
    return static_cast<HICON>(
        LoadImageA(g_hInstance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, size, size, LR_DEFAULTSIZE));
}

// Every field by hand: the program has no C runtime, so no memset for a
// zero-initialised structure.
static bool register_tray_class()
{
    WNDCLASSEXA wc;
    wc.cbSize = sizeof wc;
    wc.style = 0;
    wc.lpfnWndProc = TrayWindowProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = g_hInstance;
    wc.hIcon = g_appIcon;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = CLASS_NAME;
    wc.hIconSm = g_smallIcon;
    return RegisterClassExA(&wc) != 0;
}

static_assert(sizeof(WNDCLASSEXA) == 48, "WNDCLASSEXA");

// From here on the settings are in force: every way out restores them.
static int fail_after_settings(int exit_code)
{
    journal_restore();
    return exit_code;
}

int app_main(HINSTANCE instance)
{
    g_hInstance = instance;
    g_japanese = GetACP() == 932;
    if (another_copy_runs())
        return 0;

    SetUnhandledExceptionFilter(PortFaultProc);
    load_settings("kvtl.cfg");

    // The system's icon size, and the 16x16 image for the taskbar and the
    // small class icon: the taskbar would shrink the 32x32 one.
    g_appIcon = load_icon(0);
    g_smallIcon = load_icon(16);
    if (!g_appIcon || !g_smallIcon)
        return fail_after_settings(-998);
    HMENU menu = LoadMenuA(g_hInstance, MAKEINTRESOURCEA(IDR_TRAYMENU));
    if (!menu)
        return fail_after_settings(-999);
    g_trayMenu = GetSubMenu(menu, 0);
    if (!g_japanese)
        use_english_menu();

    // Broadcast by a taskbar that has just been made, after Explorer
    // restarted or when it came up after this program.
    g_taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    if (!register_tray_class())
        return fail_after_settings(0);
    // A tool window stays out of the task bar; it is never shown anyway.
    HWND hwnd = CreateWindowExA(WS_EX_TOOLWINDOW, CLASS_NAME, CLASS_NAME, WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 300, 200, nullptr, nullptr,
                                g_hInstance, nullptr);
    if (!hwnd)
        return fail_after_settings(0);
    ShowWindow(hwnd, SW_HIDE);
    UpdateWindow(hwnd);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
