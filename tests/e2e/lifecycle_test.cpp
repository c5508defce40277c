// sorvenka.exe as Windows 9x needs it: the tray menu's task switch, the icon
// across taskbar restarts, a shutdown that another program cancels, texts on
// a Windows that is not Japanese. The harness logs (and may answer) the
// program's own calls of a few system functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "e2e.h"
#include "resource.h"
#include "trace.h"

namespace
{

using e2e::applied_settings;
using e2e::restored_settings;
using e2e::SETTINGS;
const std::string SETTINGS_TEXT = SETTINGS;
const char *const CLASS = TRAY_CLASS_NAME;
const sim::Bdf IDE{0, 7, 1};

// The system functions whose calls the tests follow, with their argument
// counts.
const struct {
    const char *name;
    int args;
} WATCHED[] = {{"Shell_NotifyIconA", 2}, {"SetForegroundWindow", 1}, {"TrackPopupMenu", 7},
               {"PostMessageA", 4},      {"ModifyMenuA", 5},         {"LoadImageA", 6}};

// One expected call: the function and as many leading arguments as given;
// an argument of ANY matches anything.
constexpr std::uint32_t ANY = 0xA5A5A5A5;
struct Expected {
    const char *function;
    std::vector<std::uint32_t> args;
};

::testing::AssertionResult same_calls(const std::vector<harness::Call> &actual,
                                      const std::vector<Expected> &expected)
{
    bool same = actual.size() == expected.size();
    for (std::size_t i = 0; same && i < actual.size(); ++i) {
        same = actual[i].function == expected[i].function;
        for (std::size_t a = 0; same && a < expected[i].args.size(); ++a)
            same = expected[i].args[a] == ANY || expected[i].args[a] == actual[i].args[a];
    }
    if (same)
        return ::testing::AssertionSuccess();
    auto out = ::testing::AssertionFailure() << "calls differ\n  actual:";
    for (const auto &c : actual)
        out << "\n    " << c.function << std::hex << " " << c.args[0] << " " << c.args[1] << " "
            << c.args[2] << " " << c.args[3] << (c.faked ? " (answered by the test)" : "");
    out << "\n  expected:";
    for (const auto &e : expected) {
        out << "\n    " << e.function;
        for (auto a : e.args)
            out << std::hex << " " << a;
    }
    return out;
}
#undef EXPECT_CALLS
#define EXPECT_CALLS(actual, ...) EXPECT_TRUE(same_calls((actual), __VA_ARGS__))

struct Program {
    std::unique_ptr<harness::Session> session;
    HWND window = nullptr;
    std::uint32_t hwnd = 0; // the window as the program's arguments carry it

    // The calls of `function`, or of all but LoadImageA (made at start-up
    // only, and checked where the icons are).
    std::vector<harness::Call> calls(const char *function = "") const
    {
        auto all = session->calls(function);
        if (!*function)
            all.erase(
                std::remove_if(all.begin(), all.end(),
                               [](const harness::Call &c) { return c.function == "LoadImageA"; }),
                all.end());
        return all;
    }
    bool wait_calls(std::size_t n, const char *function = "", DWORD ms = e2e::TIMEOUT_MS) const
    {
        return harness::wait_until([&] { return calls(function).size() >= n; }, ms);
    }
};

// Stand-ins for the icons, as LoadImageA's results in call order: the
// program only hands them on, to the class and to the (answered) taskbar.
const std::vector<std::uint32_t> FAKE_ICONS = {0x5A10, 0x5A20};

struct Options {
    std::vector<std::uint32_t> tray_answers; // Shell_NotifyIconA's results, in order
    bool fake_icons = false;
};

Program launch(const std::string &test, const Options &options = {})
{
    Program p;
    p.session = std::make_unique<harness::Session>(
        e2e::SORVENKA_EXE, e2e::work_dir(test, &SETTINGS_TEXT), sim::default_machine());
    for (const auto &w : WATCHED)
        p.session->watch(w.name, w.args);
    // Every later tray call succeeds: whether Wine has a taskbar here is
    // not what these tests are about.
    std::vector<std::uint32_t> answers = options.tray_answers;
    answers.insert(answers.end(), 100, TRUE);
    p.session->fake_results("Shell_NotifyIconA", answers);
    if (options.fake_icons)
        p.session->fake_results("LoadImageA", FAKE_ICONS);
    std::string error;
    EXPECT_TRUE(p.session->start(&error)) << error;
    p.window = harness::wait_window(p.session->pid(), CLASS, CLASS, e2e::TIMEOUT_MS);
    EXPECT_NE(p.window, nullptr);
    EXPECT_TRUE(p.session->watching(&error)) << error;
    p.hwnd = static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(p.window));
    return p;
}

const std::string CP932_ABOUT = "\x81\x75Sov\x81\x76Version";

void exit_and_expect_restore(Program &p, const sim::Chipset &machine)
{
    harness::post_command(p.window, IDM_EXIT);
    DWORD code = 1;
    ASSERT_TRUE(p.session->wait_exit(e2e::TIMEOUT_MS, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRACE(p.session->trace(), applied_settings(machine) + restored_settings(machine));
}

const std::uint32_t NIM_ADD_ = NIM_ADD, NIM_MODIFY_ = NIM_MODIFY, NIM_DELETE_ = NIM_DELETE;

TEST(TrayLifecycle, MenuIsFollowedByAPostedNullMessage)
{
    for (LPARAM press : {WM_LBUTTONDOWN, WM_RBUTTONDOWN}) {
        SCOPED_TRACE(press);
        Program p = launch("menu_null_" + std::to_string(press));
        ASSERT_NE(p.window, nullptr);
        harness::post_tray(p.window, WM_TRAYNOTIFY, press);
        HWND menu = harness::wait_popup_menu(p.session->pid(), e2e::TIMEOUT_MS);
        ASSERT_NE(menu, nullptr);
        // The task switch comes after the menu has closed, not before.
        EXPECT_TRUE(p.calls("PostMessageA").empty());
        harness::post_key(menu, VK_ESCAPE);
        ASSERT_TRUE(p.wait_calls(1, "PostMessageA"));
        EXPECT_CALLS(p.calls(), {{"Shell_NotifyIconA", {NIM_ADD_}},
                                 {"SetForegroundWindow", {p.hwnd}},
                                 {"TrackPopupMenu", {ANY, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN}},
                                 {"PostMessageA", {p.hwnd, WM_NULL, 0, 0}}});
        ASSERT_NO_FATAL_FAILURE(exit_and_expect_restore(p, sim::default_machine()));
    }
}

// The record Shell_NotifyIconA was handed: window, icon id, flags, callback
// and the icon, which is the 16x16 image.
void expect_tray_record(const Program &p, std::uint32_t address)
{
    std::uint32_t head[6] = {};
    ASSERT_TRUE(p.session->read_memory(address, head, sizeof head));
    EXPECT_EQ(head[0], 88u);
    EXPECT_EQ(head[1], p.hwnd);
    EXPECT_EQ(head[2], unsigned(ID_TRAYICON));
    EXPECT_EQ(head[3], unsigned(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(head[4], WM_TRAYNOTIFY);
    const auto loads = p.session->calls("LoadImageA");
    ASSERT_EQ(loads.size(), FAKE_ICONS.size());
    std::uint32_t small = 0;
    for (std::size_t i = 0; i < loads.size(); ++i) {
        EXPECT_CALLS(std::vector<harness::Call>{loads[i]},
                     {{"LoadImageA", {ANY, IDI_APP, IMAGE_ICON}}});
        if (loads[i].args[3] == 16 && loads[i].args[4] == 16)
            small = FAKE_ICONS[i];
    }
    EXPECT_EQ(head[5], small) << "not the icon of the 16x16 load";
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

struct TaskbarRestart {
    const char *name;
    // Two restarts in a row; the icon is asked for after each.
    void (*restart)(Program &p);
};

TEST(TrayLifecycle, NewTaskbarGetsTheIconAgain)
{
    const TaskbarRestart cases[] = {
        // Internet Explorer 4 and later: the new taskbar says so.
        {"broadcast",
         [](Program &p) {
             // Registered names give the same number in every process.
             const UINT taskbar_created = RegisterWindowMessageA("TaskbarCreated");
             ASSERT_NE(taskbar_created, 0u);
             for (int restart = 1; restart <= 2; ++restart) {
                 LRESULT answer = 1;
                 ASSERT_TRUE(
                     harness::send(p.window, taskbar_created, 0, 0, &answer, e2e::TIMEOUT_MS));
                 EXPECT_EQ(answer, 0);
             }
         }},
        // Windows 95's own shell tells nobody: a new window, then the old
        // one again once the new is gone.
        {"window_without_broadcast",
         [](Program &p) {
             const DWORD wait = 2 * TRAYCHECK_MS + e2e::TIMEOUT_MS;
             {
                 TaskbarWindow taskbar;
                 ASSERT_NE(taskbar.hwnd, nullptr);
                 ASSERT_TRUE(p.wait_calls(2, "", wait));
             }
             ASSERT_TRUE(p.wait_calls(3, "", wait));
             // The same taskbar on every later tick: nothing more.
             Sleep(2 * TRAYCHECK_MS);
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Options o;
        o.fake_icons = true;
        Program p = launch(std::string("taskbar_") + c.name, o);
        ASSERT_NE(p.window, nullptr);
        ASSERT_TRUE(p.wait_calls(1));
        ASSERT_NO_FATAL_FAILURE(c.restart(p));
        const std::uint32_t record = p.calls()[0].args[1];
        ASSERT_NO_FATAL_FAILURE(expect_tray_record(p, record));
        ASSERT_NO_FATAL_FAILURE(exit_and_expect_restore(p, sim::default_machine()));
        EXPECT_CALLS(p.calls(), {{"Shell_NotifyIconA", {NIM_ADD_, record}},
                                 {"Shell_NotifyIconA", {NIM_ADD_, record}},
                                 {"Shell_NotifyIconA", {NIM_ADD_, record}},
                                 {"Shell_NotifyIconA", {NIM_DELETE_, record}}});
    }
}

struct RefusedIcon {
    const char *name;
    std::vector<std::uint32_t> answers;  // of the taskbar, before it takes every call
    std::vector<std::uint32_t> requests; // NIM_ codes the program sends
};

TEST(TrayLifecycle, RefusedIconIsAskedForAgainUntilTheTaskbarHasIt)
{
    const RefusedIcon cases[] = {
        {"taken_at_once", {TRUE}, {NIM_ADD}},
        // A slow taskbar: the add timed out but was carried out.
        {"added_late", {FALSE, TRUE}, {NIM_ADD, NIM_MODIFY}},
        // No taskbar yet: asked again on the timer.
        {"taskbar_later", {FALSE, FALSE}, {NIM_ADD, NIM_MODIFY, NIM_ADD}},
        {"taskbar_much_later",
         {FALSE, FALSE, FALSE, FALSE},
         {NIM_ADD, NIM_MODIFY, NIM_ADD, NIM_MODIFY, NIM_ADD}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Options o;
        o.tray_answers = c.answers;
        Program p = launch(std::string("tray_refused_") + c.name, o);
        ASSERT_NE(p.window, nullptr);
        const std::size_t n = c.requests.size();
        ASSERT_TRUE(p.wait_calls(n, "", static_cast<DWORD>(n) * TRAYCHECK_MS + e2e::TIMEOUT_MS));
        // Once the icon is there, the same taskbar asks for nothing more.
        Sleep(2 * TRAYCHECK_MS);
        std::vector<Expected> expected;
        for (auto r : c.requests)
            expected.push_back({"Shell_NotifyIconA", {r}});
        EXPECT_CALLS(p.calls(), expected);
        ASSERT_NO_FATAL_FAILURE(exit_and_expect_restore(p, sim::default_machine()));
    }
}

struct EndOfSession {
    const char *name;
    WPARAM ending; // WM_ENDSESSION's verdict
};

TEST(TrayLifecycle, OnlyASessionThatReallyEndsTakesTheSettingsBack)
{
    const EndOfSession cases[] = {{"cancelled_by_another_program", FALSE}, {"ending", TRUE}};
    const sim::Chipset machine = sim::default_machine();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Program p = launch(std::string("endsession_") + c.name);
        ASSERT_NE(p.window, nullptr);
        ASSERT_TRUE(p.wait_calls(1));
        // The question changes nothing and lets the session end.
        LRESULT answer = 0;
        ASSERT_TRUE(harness::query_end_session(p.window, &answer, e2e::TIMEOUT_MS));
        EXPECT_EQ(answer, TRUE);
        EXPECT_TRACE(p.session->trace(), applied_settings(machine));

        ASSERT_TRUE(harness::send(p.window, WM_ENDSESSION, c.ending, 0, &answer, e2e::TIMEOUT_MS));
        EXPECT_EQ(answer, 0);
        if (!c.ending) {
            ASSERT_TRUE(e2e::barrier(*p.session, p.window));
            EXPECT_FALSE(p.session->exited());
            EXPECT_TRACE(p.session->trace(), applied_settings(machine));
            EXPECT_EQ(p.session->peek(IDE, 0x41), 0x5A);
            EXPECT_CALLS(p.calls("Shell_NotifyIconA"), {{"Shell_NotifyIconA", {NIM_ADD_}}});
            // Exit later puts each byte back once.
            ASSERT_NO_FATAL_FAILURE(exit_and_expect_restore(p, machine));
            continue;
        }
        // Restored and the icon gone before the answer: Windows may end the
        // process any time after it.
        EXPECT_TRACE(p.session->trace(), applied_settings(machine) + restored_settings(machine));
        EXPECT_CALLS(p.calls("Shell_NotifyIconA"),
                     {{"Shell_NotifyIconA", {NIM_ADD_}}, {"Shell_NotifyIconA", {NIM_DELETE_}}});
        DWORD code = 1;
        ASSERT_TRUE(p.session->wait_exit(e2e::TIMEOUT_MS, &code));
        EXPECT_EQ(code, 0u);
        EXPECT_TRACE(p.session->trace(), applied_settings(machine) + restored_settings(machine));
    }
}

struct PowerEvent {
    const char *name;
    WPARAM event;
    bool writes_settings; // after the BIOS has put its own bytes back
};

TEST(TrayLifecycle, ResumeWritesTheSettingsAgainAndExitStillRestoresTheOriginals)
{
    // In the order a suspend brings them, with a resume of each kind.
    const PowerEvent events[] = {
        {"query_suspend", PBT_APMQUERYSUSPEND, false},
        {"suspend", PBT_APMSUSPEND, false},
        {"resume_suspend", PBT_APMRESUMESUSPEND, true},
        {"resume_critical", PBT_APMRESUMECRITICAL, true},
        {"resume_automatic", PBT_APMRESUMEAUTOMATIC, true},
        {"power_status_change", PBT_APMPOWERSTATUSCHANGE, false},
    };
    const sim::Chipset machine = sim::default_machine();
    const sim::Bdf ISA{0, 7, 0};
    // SETTINGS' lines, written again in file order with no read before.
    const Trace again = restored(0x80003941, 0xCFD, 0x5A) + restored(0x80003860, 0xCFC, 0x80);
    Program p = launch("power");
    ASSERT_NE(p.window, nullptr);
    Trace expected = applied_settings(machine);
    for (const auto &e : events) {
        SCOPED_TRACE(e.name);
        p.session->poke(IDE, 0x41, machine.peek(IDE, 0x41));
        p.session->poke(ISA, 0x60, machine.peek(ISA, 0x60));
        LRESULT answer = 0;
        ASSERT_TRUE(
            harness::send(p.window, WM_POWERBROADCAST, e.event, 0, &answer, e2e::TIMEOUT_MS));
        EXPECT_EQ(answer, TRUE); // a suspend is never refused
        if (e.writes_settings)
            expected = expected + again;
        EXPECT_TRACE(p.session->trace(), expected);
        EXPECT_EQ(p.session->peek(IDE, 0x41), e.writes_settings ? 0x5A : machine.peek(IDE, 0x41));
        EXPECT_EQ(p.session->peek(ISA, 0x60), e.writes_settings ? 0x80 : machine.peek(ISA, 0x60));
    }
    // The journal still holds the bytes from before the start. A resume
    // queued behind Exit finds the bytes back for good and leaves them.
    harness::post_command(p.window, IDM_EXIT);
    PostMessageA(p.window, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    DWORD code = 1;
    ASSERT_TRUE(p.session->wait_exit(e2e::TIMEOUT_MS, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRACE(p.session->trace(), expected + restored_settings(machine));
    EXPECT_EQ(p.session->peek(IDE, 0x41), machine.peek(IDE, 0x41));
    EXPECT_EQ(p.session->peek(ISA, 0x60), machine.peek(ISA, 0x60));
}

// ---- texts by code page ----------------------------------------------------

struct Language {
    std::vector<std::string> menu; // as the program sets it; none: the resource's
    std::string about_caption, warning, ports_refused;
};

const Language JAPANESE{
    {},
    CP932_ABOUT,
    "\x8A\xF9\x82\xC9\x8B\x4E\x93\xAE\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7.",
    // "Windows 95, 98, Me または PCI のポートを開くドライバが必要です."
    "Windows 95, 98, Me \x82\xDC\x82\xBD\x82\xCD PCI \x82\xCC\x83|\x81[\x83g\x82\xF0\x8AJ\x82\xAD"
    "\x83h\x83\x89\x83\x43\x83o\x82\xAA\x95K\x97v\x82\xC5\x82\xB7."};
const Language ENGLISH{
    {"Version", "Exit"},
    "[Sov]Version",
    "Already running.",
    "Sorvenka needs Windows 95, 98 or Me, or a driver that opens the PCI ports."};

// The message box of `pid` so captioned holds `text`; Enter closes it.
::testing::AssertionResult box_says(DWORD pid, const char *caption, const std::string &text)
{
    HWND box = harness::wait_window(pid, "#32770", caption, e2e::TIMEOUT_MS);
    if (!box)
        return ::testing::AssertionFailure() << "no box captioned " << caption;
    bool found = false;
    for (const auto &child : harness::children(box))
        found |= child.text == text;
    harness::post_key(box, VK_RETURN);
    if (!found)
        return ::testing::AssertionFailure() << "the box " << caption << " lacks its text";
    return ::testing::AssertionSuccess();
}

// Wine derives the code page from the Unix locale the run starts with, and
// this process has the same: E2E_LANGUAGE says which the run is meant for.
TEST(Texts, JapaneseOnCodePage932AndEnglishElsewhere)
{
    const char *language = std::getenv("E2E_LANGUAGE");
    const bool english = language && std::string(language) == "english";
    ASSERT_EQ(GetACP() == 932, !english) << "the run's locale gives code page " << GetACP();
    const Language &l = english ? ENGLISH : JAPANESE;

    Program p = launch("texts");
    ASSERT_NE(p.window, nullptr);
    const DWORD pid = p.session->pid();
    std::vector<std::string> menu;
    for (const auto &c : p.calls("ModifyMenuA")) {
        EXPECT_EQ(c.args[1], c.args[3]); // by command, keeping the command
        EXPECT_EQ(c.args[2], unsigned(MF_BYCOMMAND | MF_STRING));
        menu.push_back(p.session->read_string(c.args[4]));
    }
    EXPECT_EQ(menu, l.menu);

    // The first item still opens the About box.
    harness::post_tray(p.window, WM_TRAYNOTIFY, WM_RBUTTONDOWN);
    HWND popup = harness::wait_popup_menu(pid, e2e::TIMEOUT_MS);
    ASSERT_NE(popup, nullptr);
    harness::post_key(popup, VK_DOWN);
    harness::post_key(popup, VK_RETURN);
    HWND box = harness::wait_window(pid, "#32770", l.about_caption, e2e::TIMEOUT_MS);
    EXPECT_NE(box, nullptr);
    if (box)
        harness::click(box, IDOK);

    harness::Session second(e2e::SORVENKA_EXE, e2e::work_dir("texts_second", &SETTINGS_TEXT),
                            sim::default_machine());
    std::string error;
    ASSERT_TRUE(second.start(&error)) << error;
    EXPECT_TRUE(box_says(second.pid(), "CAUTION", l.warning));
    EXPECT_TRUE(second.wait_exit(e2e::TIMEOUT_MS));
    ASSERT_NO_FATAL_FAILURE(exit_and_expect_restore(p, sim::default_machine()));

    // A system that refuses the port instructions, whatever version it
    // reports: a message and the program's own exit code, no crash.
    harness::Session refused(e2e::SORVENKA_EXE,
                             e2e::work_dir("texts_ports_refused", &SETTINGS_TEXT),
                             sim::default_machine());
    refused.set_port_emulation(false);
    ASSERT_TRUE(refused.start(&error)) << error;
    EXPECT_TRUE(box_says(refused.pid(), "Sorvenka", l.ports_refused));
    DWORD code = 0;
    ASSERT_TRUE(refused.wait_exit(e2e::TIMEOUT_MS, &code));
    EXPECT_EQ(code, static_cast<DWORD>(-997));
    EXPECT_TRUE(refused.trace().empty());
}

} // namespace
