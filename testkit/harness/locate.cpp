// locate.exe: where a window shows on the Wine desktop, asked of Wine's
// windows rather than read off the screen.
//
//   locate.exe [--timeout MS] [--gone] tray | menu | tip | TITLE
//
//   tray   the first icon of the notification area (explorer's taskbar)
//   menu   a visible popup menu
//   tip    a visible tooltip of the notification area
//   TITLE  a visible top-level window whose title contains TITLE
//
// Prints "X Y W H" in the desktop's coordinates, which on a Wine virtual
// desktop are those of its X window too, once the window shows (status 0);
// status 1 when it does not within MS (default 10000). With --gone it
// waits instead until no such window is visible.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "harness.h"

namespace
{

using harness::find_windows;
using harness::WindowFilter;

HWND first(const std::vector<HWND> &found)
{
    return found.empty() ? nullptr : found.front();
}

WindowFilter shown(const std::string &cls, const std::string &title_part)
{
    WindowFilter f;
    f.cls = cls;
    f.title_part = title_part;
    f.visible_only = true;
    return f;
}

// Explorer's taskbar is the window "Shell_TrayWnd". Wine 8 draws the icons
// into it, right-aligned in slots of a small icon with a border of 2 pixels
// around, and gives each icon shown a tooltip window the taskbar owns; the
// first icon takes the rightmost slot. Later Wines give each icon a child
// window of its own.
bool tray_icon(RECT *r)
{
    HWND tray = FindWindowA("Shell_TrayWnd", nullptr);
    if (!tray || !IsWindowVisible(tray))
        return false;
    HWND icon = FindWindowExA(tray, nullptr, "__wine_tray_icon", nullptr);
    if (icon)
        return IsWindowVisible(icon) && GetWindowRect(icon, r);
    WindowFilter tips;
    tips.cls = "tooltips_class32";
    tips.owner = tray;
    if (find_windows(tips).empty())
        return false;
    RECT bar;
    GetClientRect(tray, &bar);
    int cx = GetSystemMetrics(SM_CXSMICON) + 4, cy = GetSystemMetrics(SM_CYSMICON) + 4;
    POINT at = {bar.right - cx, (bar.bottom - cy) / 2};
    ClientToScreen(tray, &at);
    SetRect(r, at.x, at.y, at.x + cx, at.y + cy);
    return true;
}

bool locate(const std::string &what, RECT *r)
{
    if (what == "tray")
        return tray_icon(r);
    WindowFilter f = what == "menu"  ? shown("#32768", "")
                     : what == "tip" ? shown("tooltips_class32", "")
                                     : shown("", what);
    if (what == "tip")
        f.owner = FindWindowA("Shell_TrayWnd", nullptr);
    HWND w = first(find_windows(f));
    return w && GetWindowRect(w, r);
}

} // namespace

int main(int argc, char **argv)
{
    DWORD timeout = 10000;
    bool gone = false;
    std::string what;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--timeout") && i + 1 < argc)
            timeout = std::strtoul(argv[++i], nullptr, 0);
        else if (!std::strcmp(argv[i], "--gone"))
            gone = true;
        else
            what = argv[i];
    }
    if (what.empty()) {
        std::fprintf(stderr, "usage: locate.exe [--timeout MS] [--gone] tray|menu|tip|TITLE\n");
        return 2;
    }
    DWORD start = GetTickCount();
    RECT r;
    while (locate(what, &r) == gone) {
        if (GetTickCount() - start >= timeout)
            return 1;
        Sleep(100);
    }
    if (!gone) {
        // Unix line ends: the caller reads the numbers with the shell.
        char line[64];
        int n = std::snprintf(line, sizeof line, "%ld %ld %ld %ld\n", r.left, r.top,
                              r.right - r.left, r.bottom - r.top);
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, n, &written, nullptr);
    }
    return 0;
}
