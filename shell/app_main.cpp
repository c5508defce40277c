#include "app_main.h"

#include "pci_config.h"
#include "resource.h"
#include "settings.h"
#include "tray_window.h"

HINSTANCE g_hInstance;
HICON g_smallIcon;
HMENU g_trayMenu;
bool g_japanese;

static HANDLE g_instanceMutex; // kept open, never owned, until the process ends
static HICON g_appIcon;        // the class icon, at the system's icon size
// The marker of a run whose bytes are changed: a global atom, which lives
// until Windows restarts and touches neither disk nor registry. Up before
// the first byte changes, deleted once every byte is back.
static ATOM g_changedMarker;

// Set by the start-up's last check before the first byte changes.
static int g_refusal;
// restore_settings has begun: it runs once (journal_restore), and a fault
// inside it must not start another.
static bool g_bytesBack;

static const char MUTEX_NAME[] = INSTANCE_MUTEX_NAME;
static const char CLASS_NAME[] = TRAY_CLASS_NAME;
static const char MARKER_NAME[] = CHANGED_MARKER_NAME;
// "既に起動しています." in Shift-JIS: the window functions here are ANSI and
// the Japanese system code page is 932.
static const char ALREADY_RUNNING[] =
    "\x8A\xF9\x82\xC9\x8B\x4E\x93\xAE\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7.";
// "Windows 95, 98, Me または PCI のポートを開くドライバが必要です. 書き込んだ
// バイトはすべて元に戻しました.", Shift-JIS.
static const char PORTS_REFUSED[] =
    "Windows 95, 98, Me \x82\xDC\x82\xBD\x82\xCD PCI \x82\xCC\x83|\x81[\x83g\x82\xF0\x8AJ\x82"
    "\xAD\x83h\x83\x89\x83\x43\x83o\x82\xAA\x95K\x97v\x82\xC5\x82\xB7. \x8F\x91\x82\xAB\x8D"
    "\x9E\x82\xF1\x82\xBE\x83o\x83\x43\x83g\x82\xCD\x82\xB7\x82\xD7\x82\xC4\x8C\xB3\x82\xC9"
    "\x96\xDF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.";
// "前回の Sorvenka は PCI のバイトを元に戻さずに終わりました. Windows を再起動
// してから起動してください. 何も変更していません.", Shift-JIS.
static const char LAST_RUN_UNRESTORED[] =
    "\x91O\x89\xF1\x82\xCC Sorvenka \x82\xCD PCI \x82\xCC\x83o\x83\x43\x83g\x82\xF0\x8C\xB3"
    "\x82\xC9\x96\xDF\x82\xB3\x82\xB8\x82\xC9\x8FI\x82\xED\x82\xE8\x82\xDC\x82\xB5\x82\xBD. W"
    "indows \x82\xF0\x8D\xC4\x8BN\x93\xAE\x82\xB5\x82\xC4\x82\xA9\x82\xE7\x8BN\x93\xAE\x82"
    "\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2. \x89\xBD\x82\xE0\x95\xCF\x8DX\x82\xB5\x82"
    "\xC4\x82\xA2\x82\xDC\x82\xB9\x82\xF1.";
// "この PC には PCI コンフィギュレーション・メカニズム #1 がありません. 何も変更
// していません.", Shift-JIS.
static const char NO_MECHANISM1[] =
    "\x82\xB1\x82\xCC PC \x82\xC9\x82\xCD PCI \x83R\x83\x93\x83t\x83\x42\x83M\x83\x85\x83\x8C"
    "\x81[\x83V\x83\x87\x83\x93\x81\x45\x83\x81\x83J\x83j\x83Y\x83\x80 #1 \x82\xAA\x82\xA0"
    "\x82\xE8\x82\xDC\x82\xB9\x82\xF1. \x89\xBD\x82\xE0\x95\xCF\x8DX\x82\xB5\x82\xC4\x82\xA2"
    "\x82\xDC\x82\xB9\x82\xF1.";

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

static void stop_box(const char *japanese, const char *english)
{
    MessageBoxA(nullptr, g_japanese ? japanese : english, "Sorvenka", MB_OK | MB_ICONSTOP);
}

void restore_settings()
{
    if (g_bytesBack)
        return;
    g_bytesBack = true;
    journal_restore();
    if (g_changedMarker) {
        GlobalDeleteAtom(g_changedMarker);
        g_changedMarker = 0;
    }
}

// Any fault the program does not survive puts the bytes back first: each
// journalled byte was read through its port, which therefore works, and a
// byte left tuned stays so until a restart. A fault inside that restore
// passes on at once.
//
// The NT family refuses IN and OUT to a program without a port driver, and
// a driver may open some of the ports only (0xCF8-0xCFC, not 0xCFD-0xCFF):
// then the fault comes after the lines before it were applied. The system
// names it a privileged instruction (some emulators an illegal one); only a
// fault at IN or OUT (opcodes E4-E7, EC-EF) is taken for it and ends the
// program with a message. Any other fault goes on to the system's own
// handling once the bytes are back.
static LONG WINAPI FaultProc(EXCEPTION_POINTERS *info)
{
    restore_settings();
    const EXCEPTION_RECORD *r = info->ExceptionRecord;
    if ((r->ExceptionCode != EXCEPTION_PRIV_INSTRUCTION &&
         r->ExceptionCode != EXCEPTION_ILLEGAL_INSTRUCTION) ||
        (*static_cast<const unsigned char *>(r->ExceptionAddress) & 0xF4) != 0xE4)
        return EXCEPTION_CONTINUE_SEARCH;
    stop_box(PORTS_REFUSED, "Sorvenka needs Windows 95, 98 or Me, or a driver that opens the PCI "
                            "ports. Every byte it had written has been put back.");
    ExitProcess(static_cast<UINT>(EXIT_PORTS_REFUSED));
}

// Before the first port of the first line: a board without Mechanism #1
// gets no configuration address at all, and the marker goes up before any
// byte changes.
static bool FirstWriteProc()
{
    if (!cfg_mechanism1_present()) {
        g_refusal = EXIT_NO_MECHANISM1;
        return false;
    }
    g_changedMarker = GlobalAddAtomA(MARKER_NAME);
    return true;
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
    restore_settings();
    return exit_code;
}

int app_main(HINSTANCE instance)
{
    g_hInstance = instance;
    g_japanese = GetACP() == 932;
    if (another_copy_runs())
        return 0;

    // The marker outlives a run that ended without its restore (End Task,
    // a crash, a log-off that never said so) until Windows restarts: the
    // bytes now in the chipset may be that run's, and taking them for the
    // BIOS's would make this run's restore keep them.
    if (GlobalFindAtomA(MARKER_NAME)) {
        stop_box(LAST_RUN_UNRESTORED,
                 "The last run of Sorvenka ended without putting the PCI bytes back. Restart "
                 "Windows before starting it again. Nothing was changed.");
        return EXIT_LAST_RUN_UNRESTORED;
    }
    SetUnhandledExceptionFilter(FaultProc);
    run_settings("kvtl.cfg", nullptr, FirstWriteProc);
    if (g_refusal) {
        stop_box(NO_MECHANISM1, "This PC has no PCI configuration mechanism #1. Sorvenka changed "
                                "nothing.");
        return g_refusal;
    }

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
