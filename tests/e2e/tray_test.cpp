// sorvenka.exe's tray: the menu and what leaves it, the notifications and
// commands that do nothing, and the icon across a taskbar that refuses it or
// restarts. The harness logs (and may answer) the program's own calls of a
// few system functions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "e2e.h"
#include "resource.h"
#include "trace.h"

namespace
{

using e2e::ANY;
using e2e::Expected;
using e2e::Program;

// "「Sov」Version" in code page 932: these runs are Japanese.
const char *const ABOUT_CAPTION = "\x81\x75Sov\x81\x76Version";
const std::uint32_t NIM_ADD_ = NIM_ADD, NIM_MODIFY_ = NIM_MODIFY, NIM_DELETE_ = NIM_DELETE;

std::size_t about_boxes(const Program &p)
{
    return harness::top_windows(p.session().pid(), "#32770", "").size();
}

enum class AfterMenu { RunsOn, AboutBox, Ends };

struct MenuCase {
    const char *name;
    LPARAM press;
    void (*leave)(HWND menu, HWND window);
    AfterMenu after;
};

TEST(Tray, ButtonPressOpensTheMenuThatEscCancelOrAnItemLeaves)
{
    const MenuCase cases[] = {
        {"left_esc", WM_LBUTTONDOWN, [](HWND m, HWND) { harness::post_key(m, VK_ESCAPE); },
         AfterMenu::RunsOn},
        {"right_esc", WM_RBUTTONDOWN, [](HWND m, HWND) { harness::post_key(m, VK_ESCAPE); },
         AfterMenu::RunsOn},
        {"left_cancel_mode_to_menu", WM_LBUTTONDOWN,
         [](HWND m, HWND) { PostMessageA(m, WM_CANCELMODE, 0, 0); }, AfterMenu::RunsOn},
        {"right_cancel_mode_to_owner", WM_RBUTTONDOWN,
         [](HWND, HWND w) { PostMessageA(w, WM_CANCELMODE, 0, 0); }, AfterMenu::RunsOn},
        // The first item is Version, the second Exit.
        {"right_first_item", WM_RBUTTONDOWN,
         [](HWND m, HWND) {
             harness::post_key(m, VK_DOWN);
             harness::post_key(m, VK_RETURN);
         },
         AfterMenu::AboutBox},
        {"left_second_item", WM_LBUTTONDOWN,
         [](HWND m, HWND) {
             harness::post_key(m, VK_DOWN);
             harness::post_key(m, VK_DOWN);
             harness::post_key(m, VK_RETURN);
         },
         AfterMenu::Ends},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Program p(std::string("menu_") + c.name);
        ASSERT_NE(p.window, nullptr);
        const DWORD pid = p.session().pid();
        const std::size_t ops = p.session().trace_size();

        harness::post_tray(p.window, c.press);
        HWND menu = harness::wait_popup_menu(pid, e2e::TIMEOUT_MS);
        ASSERT_NE(menu, nullptr);
        auto w = harness::window_info(menu);
        EXPECT_TRUE(w.visible);
        EXPECT_TRUE(w.style & WS_POPUP);
        EXPECT_EQ(p.session().trace_size(), ops);
        // The task switch comes after the menu has closed, not before.
        EXPECT_TRUE(p.calls("PostMessageA").empty());

        c.leave(menu, p.window);
        EXPECT_TRUE(harness::wait_no_window(pid, "#32768", "", e2e::TIMEOUT_MS));
        ASSERT_TRUE(p.wait_calls(1, "PostMessageA"));
        auto calls = p.calls();
        calls.resize(std::min<std::size_t>(calls.size(), 4));
        EXPECT_CALLS(calls, {{"Shell_NotifyIconA", {NIM_ADD_}},
                             {"SetForegroundWindow", {p.hwnd}},
                             {"TrackPopupMenu", {ANY, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN}},
                             {"PostMessageA", {p.hwnd, WM_NULL, 0, 0}}});
        switch (c.after) {
        case AfterMenu::RunsOn:
            ASSERT_TRUE(e2e::barrier(p.session(), p.window));
            break;
        case AfterMenu::AboutBox: {
            // Found by its caption: the wait for WM_GETTEXT's answer is also
            // a wait for the box to have its controls.
            HWND box = harness::wait_window(pid, "#32770", ABOUT_CAPTION, e2e::TIMEOUT_MS);
            ASSERT_NE(box, nullptr);
            EXPECT_TRUE(harness::click(box, IDOK));
            EXPECT_TRUE(harness::wait_no_window(pid, "#32770", ABOUT_CAPTION, e2e::TIMEOUT_MS));
            break;
        }
        case AfterMenu::Ends:
            // No Exit command from the test: the menu's own runs the shutdown.
            ASSERT_NO_FATAL_FAILURE(p.expect_ended_restored(0));
            continue;
        }
        EXPECT_FALSE(p.session().exited());
        EXPECT_EQ(p.session().trace_size(), ops);
        ASSERT_NO_FATAL_FAILURE(p.exit_and_expect_restore());
    }
}

// Checks that the messages posted since `ops` port operations did nothing:
// once the program has handled them, no menu showed or is open, no box, the
// program runs on, and no port was touched. A menu that opens meanwhile
// also runs the marker through its own loop, so it is looked for all along
// the wait.
::testing::AssertionResult no_effect(Program &p, std::size_t ops)
{
    harness::Session &s = p.session();
    const DWORD pid = s.pid();
    const unsigned marker = s.post_marker(p.window);
    bool menu_seen = false;
    harness::wait_until(
        [&] {
            menu_seen |= !harness::top_windows(pid, "#32768", "").empty();
            return s.marker_handled(marker) || s.exited();
        },
        e2e::TIMEOUT_MS);
    if (!s.marker_handled(marker))
        return ::testing::AssertionFailure() << "the posted messages were not all handled";
    if (menu_seen || !harness::top_windows(pid, "#32768", "").empty())
        return ::testing::AssertionFailure() << "a menu showed";
    if (about_boxes(p))
        return ::testing::AssertionFailure() << "a box showed";
    if (s.exited())
        return ::testing::AssertionFailure() << "the program ended";
    if (s.trace_size() != ops)
        return ::testing::AssertionFailure() << (s.trace_size() - ops) << " port operations since";
    return ::testing::AssertionSuccess();
}

// A hidden tool window: only a press on its icon or one of its two commands
// does anything.
TEST(Tray, NotificationsOtherThanAPressAndUnknownCommandsDoNothing)
{
    // Compared as whole values: a press with bits above the low word is none.
    const LPARAM notifications[] = {WM_LBUTTONUP,
                                    WM_RBUTTONUP,
                                    WM_MOUSEMOVE,
                                    WM_LBUTTONDBLCLK,
                                    WM_RBUTTONDBLCLK,
                                    WM_MBUTTONDOWN,
                                    WM_MBUTTONUP,
                                    WM_MBUTTONDBLCLK,
                                    0,
                                    0x10000 | WM_LBUTTONDOWN,
                                    0x10000 | WM_RBUTTONDOWN};
    // IDOK and IDCANCEL too: they belong to the About box, not to the window.
    const WORD commands[] = {0, IDOK, IDCANCEL, IDM_VERSION - 1, IDM_EXIT + 1, 40012, 0xFFFF};
    Program p("nothing_happens");
    ASSERT_NE(p.window, nullptr);
    auto w = harness::window_info(p.window);
    EXPECT_TRUE(w.exstyle & WS_EX_TOOLWINDOW);
    EXPECT_EQ(w.style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    const std::size_t ops = p.session().trace_size();
    for (LPARAM m : notifications)
        harness::post_tray(p.window, m);
    for (WORD id : commands)
        harness::post_command(p.window, id);
    EXPECT_TRUE(no_effect(p, ops));
    EXPECT_FALSE(harness::window_info(p.window).visible);
    ASSERT_NO_FATAL_FAILURE(p.exit_and_expect_restore());
}

// Stand-ins for the icons, as LoadImageA's results in call order: the
// program only hands them on, to the class and to the (answered) taskbar.
const std::vector<std::uint32_t> FAKE_ICONS = {0x5A10, 0x5A20};

void fake_icons(harness::Session &s)
{
    s.watch("LoadImageA", 6);
    s.fake_results("LoadImageA", FAKE_ICONS);
    s.watch("GetWindowThreadProcessId", 2);
}

// The record Shell_NotifyIconA was handed, every field: NOTIFYICONDATAA in
// its first, 88-byte form. The shell copies what it needs at NIM_ADD, so a
// wrong size, flag or callback would show on a real desktop only. The icon
// is the one loaded at 16x16, which the taskbar shows unscaled.
void expect_tray_record(const Program &p, std::uint32_t address)
{
    struct Record {
        std::uint32_t size, window, id, flags, callback, icon;
        char tip[64];
    } rec;
    static_assert(sizeof(Record) == 88);
    ASSERT_TRUE(p.session().read_memory(address, &rec, sizeof rec));
    EXPECT_EQ(rec.size, 88u);
    EXPECT_EQ(rec.window, p.hwnd);
    EXPECT_EQ(rec.id, unsigned(ID_TRAYICON));
    EXPECT_EQ(rec.flags, unsigned(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(rec.callback, static_cast<std::uint32_t>(WM_TRAYNOTIFY));
    EXPECT_EQ(std::string(rec.tip, strnlen(rec.tip, sizeof rec.tip)), "Sorvenka");
    const auto loads = p.calls("LoadImageA");
    ASSERT_EQ(loads.size(), FAKE_ICONS.size());
    std::uint32_t small = 0;
    for (std::size_t i = 0; i < loads.size(); ++i) {
        EXPECT_CALLS(std::vector<harness::Call>{loads[i]},
                     {{"LoadImageA", {ANY, IDI_APP, IMAGE_ICON}}});
        if (loads[i].args[3] == 16 && loads[i].args[4] == 16)
            small = FAKE_ICONS[i];
    }
    EXPECT_EQ(rec.icon, small) << "not the icon of the 16x16 load";
}

// Internet Explorer 4 and later: the new taskbar says so.
void taskbar_broadcasts_twice(Program &p)
{
    // Registered names give the same number in every process.
    const UINT taskbar_created = RegisterWindowMessageA("TaskbarCreated");
    ASSERT_NE(taskbar_created, 0u);
    for (int restart = 1; restart <= 2; ++restart) {
        LRESULT answer = 1;
        ASSERT_TRUE(harness::send(p.window, taskbar_created, 0, 0, &answer, e2e::TIMEOUT_MS));
        EXPECT_EQ(answer, 0);
    }
}

// A window of the taskbar's class, made by the test: what FindWindowA
// finds after Explorer has restarted.
struct TaskbarWindow {
    HWND hwnd = nullptr;
    TaskbarWindow()
    {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "Shell_TrayWnd";
        RegisterClassA(&wc);
        hwnd = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, "Shell_TrayWnd", "", WS_POPUP, 0,
                               0, 1, 1, nullptr, nullptr, wc.hInstance, nullptr);
    }
    ~TaskbarWindow() { DestroyWindow(hwnd); }
};

// Windows 95's own shell tells nobody: a new taskbar window, then the old
// one again once the new is gone.
void taskbar_window_changes_twice(Program &p)
{
    const DWORD wait = 2 * TRAYCHECK_MS + e2e::TIMEOUT_MS;
    {
        TaskbarWindow taskbar;
        ASSERT_NE(taskbar.hwnd, nullptr);
        ASSERT_TRUE(p.wait_calls(2, "Shell_NotifyIconA", wait));
    }
    ASSERT_TRUE(p.wait_calls(3, "Shell_NotifyIconA", wait));
    // The same taskbar on every later tick: nothing more.
    Sleep(2 * TRAYCHECK_MS);
}

// A taskbar that died and came back within a tick with the old window
// handle (Windows 9x reuses its 16-bit handles): only its thread is new.
void taskbar_back_with_the_old_handle(Program &p)
{
    p.session().fake_results("GetWindowThreadProcessId", {0x4711});
    ASSERT_TRUE(p.wait_calls(2, "Shell_NotifyIconA", 2 * TRAYCHECK_MS + e2e::TIMEOUT_MS));
    // Its thread from then on: nothing more.
    Sleep(2 * TRAYCHECK_MS);
}

struct IconCase {
    const char *name;
    std::vector<std::uint32_t> answers;  // of the taskbar, before it takes every call
    void (*then)(Program &);             // what the taskbar does next, if anything
    std::vector<std::uint32_t> requests; // NIM_ codes the program sends, Exit's NIM_DELETE too
};

TEST(Tray, IconIsAskedForUntilTheTaskbarHasItAndAgainOnANewTaskbar)
{
    const IconCase cases[] = {
        {"taken_at_once", {TRUE}, nullptr, {NIM_ADD, NIM_DELETE}},
        // A slow taskbar: the add timed out but was carried out.
        {"added_late", {FALSE, TRUE}, nullptr, {NIM_ADD, NIM_MODIFY, NIM_DELETE}},
        // No taskbar yet: asked again on the timer.
        {"taskbar_later", {FALSE, FALSE}, nullptr, {NIM_ADD, NIM_MODIFY, NIM_ADD, NIM_DELETE}},
        {"taskbar_much_later",
         {FALSE, FALSE, FALSE, FALSE},
         nullptr,
         {NIM_ADD, NIM_MODIFY, NIM_ADD, NIM_MODIFY, NIM_ADD, NIM_DELETE}},
        {"taskbar_restarts", {}, taskbar_broadcasts_twice, {NIM_ADD, NIM_ADD, NIM_ADD, NIM_DELETE}},
        {"taskbar_window_changes",
         {},
         taskbar_window_changes_twice,
         {NIM_ADD, NIM_ADD, NIM_ADD, NIM_DELETE}},
        {"taskbar_back_with_the_old_handle",
         {},
         taskbar_back_with_the_old_handle,
         {NIM_ADD, NIM_ADD, NIM_DELETE}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        e2e::Options o;
        o.tray_answers = c.answers;
        o.prepare = fake_icons;
        Program p(std::string("icon_") + c.name, o);
        ASSERT_NE(p.window, nullptr);
        const std::size_t n = c.then ? 1 : c.requests.size() - 1;
        ASSERT_TRUE(p.wait_calls(n, "Shell_NotifyIconA",
                                 static_cast<DWORD>(n) * TRAYCHECK_MS + e2e::TIMEOUT_MS));
        if (c.then)
            ASSERT_NO_FATAL_FAILURE(c.then(p));
        else // once the icon is there the timer is gone: nothing more comes
            Sleep(2 * TRAYCHECK_MS);
        const std::uint32_t record = p.calls("Shell_NotifyIconA")[0].args[1];
        ASSERT_NO_FATAL_FAILURE(expect_tray_record(p, record));
        ASSERT_NO_FATAL_FAILURE(p.exit_and_expect_restore());
        std::vector<Expected> expected;
        for (auto r : c.requests)
            expected.push_back({"Shell_NotifyIconA", {r, record}});
        EXPECT_CALLS(p.calls("Shell_NotifyIconA"), expected);
    }
}

} // namespace
