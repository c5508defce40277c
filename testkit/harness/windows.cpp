// Finding and driving the debuggee's windows from the test's thread.
#include "harness.h"

#include "resource.h"

namespace harness
{

namespace
{

std::string class_of(HWND hwnd)
{
    char name[256] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

// WM_GETTEXT crosses processes (the system copies the text back), and a
// window that hangs cannot block the test for long.
std::string text_of(HWND hwnd)
{
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &len))
        return {};
    std::string text(len + 1, '\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, len + 1, reinterpret_cast<LPARAM>(&text[0]),
                             SMTO_ABORTIFHUNG, 2000, &got))
        return {};
    text.resize(got);
    return text;
}

BOOL CALLBACK MatchProc(HWND hwnd, LPARAM param)
{
    auto *s = reinterpret_cast<std::pair<const WindowFilter *, std::vector<HWND>> *>(param);
    const WindowFilter &f = *s->first;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if ((f.pid && pid != f.pid) || (!f.cls.empty() && class_of(hwnd) != f.cls) ||
        (f.owner && GetWindow(hwnd, GW_OWNER) != f.owner) ||
        (f.visible_only && !IsWindowVisible(hwnd)))
        return TRUE;
    if (!f.title.empty() || !f.title_part.empty()) {
        const std::string text = text_of(hwnd);
        if ((!f.title.empty() && text != f.title) ||
            (!f.title_part.empty() && text.find(f.title_part) == std::string::npos))
            return TRUE;
    }
    s->second.push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK ChildProc(HWND hwnd, LPARAM param)
{
    auto *out = reinterpret_cast<std::vector<WindowInfo> *>(param);
    // Direct children only: EnumChildWindows also walks grandchildren.
    if (GetParent(hwnd) == out->front().hwnd)
        out->push_back(window_info(hwnd));
    return TRUE;
}

} // namespace

WindowInfo window_info(HWND hwnd)
{
    WindowInfo w;
    w.hwnd = hwnd;
    w.cls = class_of(hwnd);
    w.text = text_of(hwnd);
    w.id = static_cast<int>(static_cast<short>(GetDlgCtrlID(hwnd)));
    w.style = GetWindowLongA(hwnd, GWL_STYLE);
    w.exstyle = GetWindowLongA(hwnd, GWL_EXSTYLE);
    w.visible = IsWindowVisible(hwnd) != FALSE;
    return w;
}

std::vector<HWND> find_windows(const WindowFilter &filter)
{
    std::pair<const WindowFilter *, std::vector<HWND>> search{&filter, {}};
    EnumWindows(MatchProc, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

std::vector<HWND> top_windows(DWORD pid, const std::string &cls, const std::string &title)
{
    WindowFilter f;
    f.pid = pid;
    f.cls = cls;
    f.title = title;
    return find_windows(f);
}

HWND wait_window(DWORD pid, const std::string &cls, const std::string &title, DWORD timeout_ms)
{
    HWND found = nullptr;
    wait_until(
        [&] {
            auto w = top_windows(pid, cls, title);
            found = w.empty() ? nullptr : w.front();
            return found != nullptr;
        },
        timeout_ms);
    return found;
}

bool wait_no_window(DWORD pid, const std::string &cls, const std::string &title, DWORD timeout_ms)
{
    return wait_until([&] { return top_windows(pid, cls, title).empty(); }, timeout_ms);
}

HWND wait_popup_menu(DWORD pid, DWORD timeout_ms)
{
    return wait_window(pid, "#32768", "", timeout_ms);
}

std::vector<WindowInfo> children(HWND parent)
{
    std::vector<WindowInfo> out{window_info(parent)};
    EnumChildWindows(parent, ChildProc, reinterpret_cast<LPARAM>(&out));
    out.erase(out.begin());
    return out;
}

bool post_command(HWND hwnd, WORD id)
{
    return PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, 0), 0) != FALSE;
}

bool post_tray(HWND hwnd, UINT callback_message, LPARAM mouse_message)
{
    // wParam: the icon's identifier, as the shell passes it.
    return PostMessageA(hwnd, callback_message, ID_TRAYICON, mouse_message) != FALSE;
}

bool post_tray(HWND hwnd, LPARAM mouse_message)
{
    return post_tray(hwnd, WM_TRAYNOTIFY, mouse_message);
}

bool post_close(HWND hwnd)
{
    return PostMessageA(hwnd, WM_CLOSE, 0, 0) != FALSE;
}

bool send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT *answer, DWORD timeout_ms)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(hwnd, msg, wParam, lParam, SMTO_NORMAL, timeout_ms, &result))
        return false;
    if (answer)
        *answer = static_cast<LRESULT>(result);
    return true;
}

bool query_end_session(HWND hwnd, LRESULT *answer, DWORD timeout_ms)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(hwnd, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, timeout_ms, &result))
        return false;
    if (answer)
        *answer = static_cast<LRESULT>(result);
    return true;
}

bool post_key(HWND dialog, WPARAM vk)
{
    UINT scan = MapVirtualKeyA(static_cast<UINT>(vk), 0);
    return PostMessageA(dialog, WM_KEYDOWN, vk, 1 | (scan << 16)) &&
           PostMessageA(dialog, WM_KEYUP, vk, 1 | (scan << 16) | 0xC0000000u);
}

bool click(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    return button && PostMessageA(button, BM_CLICK, 0, 0);
}

} // namespace harness
