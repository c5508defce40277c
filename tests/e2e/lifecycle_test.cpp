// sorvenka.exe as Windows 9x needs it: the tray menu's task switch, the icon
// across taskbar restarts, a shutdown that another program cancels, texts on
// a Windows that is not Japanese. The harness logs (and may answer) the
// program's own calls of a few system functions.
#include <gtest/gtest.h>

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
const char *const CLASS = TRAY_CLASS_NAME;
const sim::Bdf IDE{0, 7, 1};

// The system functions whose calls the tests follow, with their argument
// counts.
const struct {
    const char *name;
    int args;
} WATCHED[] = {{"Shell_NotifyIconA", 2},
               {"SetForegroundWindow", 1},
               {"TrackPopupMenu", 7},
               {"PostMessageA", 4},
               {"ModifyMenuA", 5}};

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
#define EXPECT_CALLS(actual, ...) EXPECT_TRUE(same_calls((actual), __VA_ARGS__))

struct Program {
    std::unique_ptr<harness::Session> session;
    HWND window = nullptr;
    std::uint32_t hwnd = 0; // the window as the program's arguments carry it

    std::vector<harness::Call> calls(const char *function = "") const
    {
        return session->calls(function);
    }
    bool wait_calls(std::size_t n, const char *function = "", DWORD ms = e2e::TIMEOUT_MS) const
    {
        return harness::wait_until([&] { return calls(function).size() >= n; }, ms);
    }
};

struct Options {
    std::vector<std::uint32_t> tray_answers; // Shell_NotifyIconA's results, in order
};

Program launch(const std::string &test, const Options &options = {})
{
    Program p;
    p.session = std::make_unique<harness::Session>(e2e::SORVENKA_EXE, e2e::work_dir(test, SETTINGS),
                                                   sim::default_machine());
    for (const auto &w : WATCHED)
        p.session->watch(w.name, w.args);
    // Every later tray call succeeds: whether Wine has a taskbar here is
    // not what these tests are about.
    std::vector<std::uint32_t> answers = options.tray_answers;
    answers.insert(answers.end(), 100, TRUE);
    p.session->fake_results("Shell_NotifyIconA", answers);
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
    e2e::exit_and_expect_restore(*p.session, p.window, machine);
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

// The record Shell_NotifyIconA was handed: window, icon id, flags, callback.
void expect_tray_record(const Program &p, std::uint32_t address)
{
    std::uint32_t head[5] = {};
    ASSERT_TRUE(p.session->read_memory(address, head, sizeof head));
    EXPECT_EQ(head[0], 88u);
    EXPECT_EQ(head[1], p.hwnd);
    EXPECT_EQ(head[2], unsigned(ID_TRAYICON));
    EXPECT_EQ(head[3], unsigned(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(head[4], WM_TRAYNOTIFY);
}

TEST(TrayLifecycle, NewTaskbarGetsTheIconAgain)
{
    Program p = launch("taskbar_created");
    ASSERT_NE(p.window, nullptr);
    ASSERT_TRUE(p.wait_calls(1));
    // Registered names give the same number in every process.
    const UINT taskbar_created = RegisterWindowMessageA("TaskbarCreated");
    ASSERT_NE(taskbar_created, 0u);
    for (int restart = 1; restart <= 2; ++restart) {
        LRESULT answer = 1;
        ASSERT_TRUE(harness::send(p.window, taskbar_created, 0, 0, &answer, e2e::TIMEOUT_MS));
        EXPECT_EQ(answer, 0);
    }
    const std::uint32_t record = p.calls()[0].args[1];
    ASSERT_NO_FATAL_FAILURE(expect_tray_record(p, record));
    ASSERT_NO_FATAL_FAILURE(exit_and_expect_restore(p, sim::default_machine()));
    const auto calls = p.calls();
    EXPECT_CALLS(calls, {{"Shell_NotifyIconA", {NIM_ADD_, record}},
                         {"Shell_NotifyIconA", {NIM_ADD_, record}},
                         {"Shell_NotifyIconA", {NIM_ADD_, record}},
                         {"Shell_NotifyIconA", {NIM_DELETE_, record}}});
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
        ASSERT_TRUE(p.wait_calls(n, "", static_cast<DWORD>(n) * TRAYRETRY_MS + e2e::TIMEOUT_MS));
        // Once the icon is there the timer is gone: nothing more comes.
        Sleep(2 * TRAYRETRY_MS);
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

// ---- texts by code page ----------------------------------------------------

struct Language {
    std::vector<std::string> menu; // as the program sets it; none: the resource's
    std::string about_caption, warning;
};

const Language JAPANESE{
    {}, CP932_ABOUT, "\x8A\xF9\x82\xC9\x8B\x4E\x93\xAE\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7."};
const Language ENGLISH{{"Version", "Exit"}, "[Sov]Version", "Already running."};

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

    harness::Session second(e2e::SORVENKA_EXE, e2e::work_dir("texts_second", SETTINGS),
                            sim::default_machine());
    std::string error;
    ASSERT_TRUE(second.start(&error)) << error;
    HWND warning = harness::wait_window(second.pid(), "#32770", "CAUTION", e2e::TIMEOUT_MS);
    ASSERT_NE(warning, nullptr);
    bool text_found = false;
    for (const auto &child : harness::children(warning))
        text_found |= child.text == l.warning;
    EXPECT_TRUE(text_found);
    harness::post_key(warning, VK_RETURN);
    EXPECT_TRUE(second.wait_exit(e2e::TIMEOUT_MS));
    ASSERT_NO_FATAL_FAILURE(exit_and_expect_restore(p, sim::default_machine()));
}

// ---- the Windows Wine claims to be -------------------------------------------

TEST(Windows, ProgramSeesTheConfiguredVersion)
{
    // E2E_WINDOWS names the version the run's program copy is set up for.
    const char *configured = std::getenv("E2E_WINDOWS");
    const std::string windows = configured ? configured : "";
    Program p = launch("windows_version");
    ASSERT_NE(p.window, nullptr);
    harness::Session::OsVersion v{};
    ASSERT_TRUE(p.session->os_version(&v));
    if (windows == "win98") {
        EXPECT_EQ(v.platform, unsigned(VER_PLATFORM_WIN32_WINDOWS));
        EXPECT_EQ(v.major * 100 + v.minor, 410u);
    } else if (windows == "win95") {
        EXPECT_EQ(v.platform, unsigned(VER_PLATFORM_WIN32_WINDOWS));
        EXPECT_EQ(v.major * 100 + v.minor, 400u);
    } else {
        EXPECT_EQ(v.platform, unsigned(VER_PLATFORM_WIN32_NT));
    }
    ASSERT_NO_FATAL_FAILURE(exit_and_expect_restore(p, sim::default_machine()));
}

} // namespace
