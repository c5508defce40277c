// Every way sorvenka.exe ends, each with the exact port trace: the settings
// applied before its window exists, every byte back before it ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "e2e.h"
#include "resource.h"
#include "trace.h"

namespace
{

using e2e::applied_settings;
using e2e::IDE;
using e2e::ISA;
using e2e::Program;
using e2e::restored_settings;

const std::uint32_t NIM_ADD_ = NIM_ADD, NIM_DELETE_ = NIM_DELETE;

void end_session(Program &p)
{
    // The question changes nothing and lets the session end.
    LRESULT answer = 0;
    ASSERT_TRUE(harness::query_end_session(p.window, &answer, e2e::TIMEOUT_MS));
    EXPECT_EQ(answer, TRUE);
    EXPECT_TRACE(p.session().trace(), applied_settings(p.machine()));
    ASSERT_TRUE(harness::send(p.window, WM_ENDSESSION, TRUE, 0, &answer, e2e::TIMEOUT_MS));
    // Restored and the icon gone before the answer: Windows may end the
    // process any time after it.
    EXPECT_TRACE(p.session().trace(),
                 applied_settings(p.machine()) + restored_settings(p.machine()));
    EXPECT_CALLS(p.calls("Shell_NotifyIconA"),
                 {{"Shell_NotifyIconA", {NIM_ADD_}}, {"Shell_NotifyIconA", {NIM_DELETE_}}});
}

// Another program objects: the settings stay in force until Exit.
void cancelled_end_session(Program &p)
{
    LRESULT answer = 0;
    ASSERT_TRUE(harness::query_end_session(p.window, &answer, e2e::TIMEOUT_MS));
    EXPECT_EQ(answer, TRUE);
    ASSERT_TRUE(harness::send(p.window, WM_ENDSESSION, FALSE, 0, &answer, e2e::TIMEOUT_MS));
    ASSERT_TRUE(e2e::barrier(p.session(), p.window));
    EXPECT_FALSE(p.session().exited());
    EXPECT_TRACE(p.session().trace(), applied_settings(p.machine()));
    EXPECT_EQ(p.session().peek(IDE, 0x41), 0xD3);
    EXPECT_CALLS(p.calls("Shell_NotifyIconA"), {{"Shell_NotifyIconA", {NIM_ADD_}}});
    harness::post_command(p.window, IDM_EXIT);
}

void exit_with_about_box_open(Program &p)
{
    harness::post_command(p.window, IDM_VERSION);
    ASSERT_NE(harness::wait_window(p.session().pid(), "#32770", "", e2e::TIMEOUT_MS), nullptr);
    harness::post_command(p.window, IDM_EXIT);
}

// 52 lines of 11 bytes: the first read of 512 bytes ends after "4A,22," of
// line 47. The second read fails, as on a bad floppy.
std::string udma_lines()
{
    std::string s;
    for (int i = 0; i < 52; i++)
        s += "4A,22,7,1\r\n";
    return s;
}

Trace repeated(const Trace &t, int n)
{
    Trace all;
    for (int i = 0; i < n; ++i)
        all = all + t;
    return all;
}

void exit_command(Program &p)
{
    harness::post_command(p.window, IDM_EXIT);
}

struct Route {
    const char *name;
    void (*shut)(Program &); // nullptr: the program ends by itself
    const char *const *exe = &e2e::SORVENKA_EXE;
    DWORD code = 0;
    // Another settings file, its port operations at start-up and at the end.
    std::string settings = "";
    Trace applied = {}, restore = {};
    void (*prepare)(harness::Session &) = nullptr;
};

TEST(Shutdown, EveryRoutePutsEachByteBackBeforeTheEnd)
{
    const Route routes[] = {
        {"exit_command", exit_command},
        {"close_request", [](Program &p) { harness::post_close(p.window); }},
        {"end_session", end_session},
        {"cancelled_end_session_then_exit", cancelled_end_session},
        {"exit_with_about_box_open", exit_with_about_box_open},
        // A new taskbar announced after the shutdown took the icon away: it
        // stays away.
        {"taskbar_created_after_exit",
         [](Program &p) {
             harness::post_command(p.window, IDM_EXIT);
             PostMessageA(p.window, RegisterWindowMessageA("TaskbarCreated"), 0, 0);
         }},
        // Builds without their icon group or menu: the start-up fails after
        // the settings are in.
        {"no_icon", nullptr, &e2e::SORVENKA_NOICON_EXE, static_cast<DWORD>(-998)},
        {"no_menu", nullptr, &e2e::SORVENKA_NOMENU_EXE, static_cast<DWORD>(-999)},
        // The AGP bridge's buses from 1 to 3, the subordinate first (a bridge
        // reaches its secondary bus only up to its subordinate), then the card
        // behind it (device 0x60: bus 3): the card's byte goes back while bus
        // 3 still leads to it, then the secondary, then the subordinate.
        {"exit_after_moving_a_bus", exit_command, &e2e::SORVENKA_EXE, 0,
         "1A,03,1,0\n19,03,1,0\n40,55,60,0\n",
         mechanism_test() + applied_line(0x8000081A, 0x03, 0x01) +
             applied_line(0x80000819, 0x03, 0x01) + applied_line(0x80030040, 0x55, 0x21),
         restored(0x80030040, 0xCFC, 0x21) + restored(0x80000819, 0xCFD, 0x01) +
             restored(0x8000081A, 0xCFE, 0x01)},
        // Only the 46 whole lines before the failed read.
        {"exit_after_a_failed_read", exit_command, &e2e::SORVENKA_EXE, 0, udma_lines(),
         mechanism_test() + applied_line(0x8000394A, 0x22, 0x02) +
             repeated(applied_line(0x8000394A, 0x22, 0x22), 45),
         repeated(restored(0x8000394A, 0xCFE, 0x22), 45) + restored(0x8000394A, 0xCFE, 0x02),
         [](harness::Session &s) {
             s.watch("ReadFile", 5);
             s.fake_results("ReadFile", {FALSE}, 1);
         }},
    };
    for (const auto &route : routes) {
        SCOPED_TRACE(route.name);
        e2e::Options o;
        o.exe = *route.exe;
        o.window = route.shut != nullptr;
        o.prepare = route.prepare;
        if (!route.settings.empty())
            o.settings = route.settings;
        Program p(std::string("route_") + route.name, o);
        ASSERT_TRUE(p.started());
        const Trace applied =
            route.settings.empty() ? applied_settings(p.machine()) : route.applied;
        const Trace all =
            applied + (route.settings.empty() ? restored_settings(p.machine()) : route.restore);
        if (route.shut) {
            ASSERT_NE(p.window, nullptr);
            // Applied before the window exists, and nothing more while it runs.
            EXPECT_TRACE(p.session().trace(), applied);
            ASSERT_NO_FATAL_FAILURE(route.shut(p));
        }
        ASSERT_NO_FATAL_FAILURE(p.expect_ended_restored(route.code, &all));
        if (route.shut) {
            EXPECT_CALLS(p.calls("Shell_NotifyIconA"),
                         {{"Shell_NotifyIconA", {NIM_ADD_}}, {"Shell_NotifyIconA", {NIM_DELETE_}}});
        }
    }
}

TEST(Shutdown, WithoutSettingsFileNoPortIsTouched)
{
    e2e::Options o;
    o.no_settings = true;
    Program p("no_settings", o);
    ASSERT_NE(p.window, nullptr);
    harness::post_command(p.window, IDM_EXIT);
    EXPECT_EQ(p.wait_exit(), 0u);
    EXPECT_TRUE(p.session().trace().empty());
}

// Four operations per applied line and two per line on the way back, the
// last line first; the 65th line is never read.
TEST(Shutdown, SixtyFourLinesAreAppliedAndPutBack)
{
    const sim::Chipset machine = sim::default_machine();
    e2e::Options o;
    Trace applied = mechanism_test(), restore;
    o.settings.clear();
    for (unsigned i = 0; i < 65; ++i) {
        const unsigned reg = 0x80 + i, value = 0xA5 ^ i;
        char line[32];
        std::snprintf(line, sizeof line, "%X,%X,7\n", reg, value);
        o.settings += line;
        if (i == 64)
            continue;
        applied = applied + applied_line(0x80003800 | reg, value, machine.peek(ISA, reg));
        restore = restored(0x80003800 | reg, 0xCFC + (reg & 3), machine.peek(ISA, reg)) + restore;
    }
    // Opened so that nobody writes the file while it is read.
    o.prepare = [](harness::Session &s) { s.watch("CreateFileA", 6); };
    Program p("sixty_five_lines", o);
    ASSERT_NE(p.window, nullptr);
    EXPECT_CALLS(p.calls("CreateFileA"),
                 {{"CreateFileA", {e2e::ANY, GENERIC_READ, FILE_SHARE_READ}}});
    EXPECT_TRACE(p.session().trace(), applied);
    harness::post_command(p.window, IDM_EXIT);
    EXPECT_EQ(p.wait_exit(), 0u);
    EXPECT_TRACE(p.session().trace(), applied + restore);
}

struct PowerEvent {
    const char *name;
    WPARAM event;
    bool writes_settings; // after the BIOS has put its own bytes back
};

// A resume finds the BIOS's bytes: the settings go in again, and Exit still
// puts back the bytes from before the start, once.
TEST(Shutdown, ResumeWritesTheSettingsAgainAndExitStillPutsTheOriginalsBack)
{
    // In the order a suspend brings them, with a resume of each kind.
    const PowerEvent events[] = {
        {"query_suspend", PBT_APMQUERYSUSPEND, false},
        {"suspend", PBT_APMSUSPEND, false},
        {"resume_suspend", PBT_APMRESUMESUSPEND, true},
        {"resume_critical", PBT_APMRESUMECRITICAL, true},
        {"resume_automatic", PBT_APMRESUMEAUTOMATIC, true},
        // Windows 95's APM after a standby, which a BIOS may carry out as a
        // suspend to RAM.
        {"resume_standby", PBT_APMRESUMESTANDBY, true},
        {"power_status_change", PBT_APMPOWERSTATUSCHANGE, false},
    };
    // The settings' lines, written again in file order with no read before.
    const Trace again = restored(0x80003941, 0xCFD, 0xD3) + restored(0x80003860, 0xCFC, 0x80);
    Program p("power");
    ASSERT_NE(p.window, nullptr);
    const sim::Chipset &machine = p.machine();
    Trace expected = applied_settings(machine);
    for (const auto &e : events) {
        SCOPED_TRACE(e.name);
        p.session().poke(IDE, 0x41, machine.peek(IDE, 0x41));
        p.session().poke(ISA, 0x60, machine.peek(ISA, 0x60));
        LRESULT answer = 0;
        ASSERT_TRUE(
            harness::send(p.window, WM_POWERBROADCAST, e.event, 0, &answer, e2e::TIMEOUT_MS));
        EXPECT_EQ(answer, TRUE); // a suspend is never refused
        if (e.writes_settings)
            expected = expected + again;
        EXPECT_TRACE(p.session().trace(), expected);
        EXPECT_EQ(p.session().peek(IDE, 0x41), e.writes_settings ? 0xD3 : machine.peek(IDE, 0x41));
        EXPECT_EQ(p.session().peek(ISA, 0x60), e.writes_settings ? 0x80 : machine.peek(ISA, 0x60));
    }
    // A resume queued behind Exit finds the bytes back for good and leaves
    // them.
    harness::post_command(p.window, IDM_EXIT);
    PostMessageA(p.window, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    const Trace all = expected + restored_settings(machine);
    ASSERT_NO_FATAL_FAILURE(p.expect_ended_restored(0, &all));
}

// Not run by default: ten seconds of idling for one figure.
TEST(Shutdown, DISABLED_IdleProgramUsesLittleCpuTime)
{
    constexpr DWORD IDLE_MS = 10000;
    Program p("idle");
    ASSERT_NE(p.window, nullptr);
    ASSERT_TRUE(e2e::barrier(p.session(), p.window)); // past start-up
    ULONGLONG before = 0, after = 0;
    ASSERT_TRUE(p.session().cpu_time(&before));
    Sleep(IDLE_MS);
    ASSERT_TRUE(p.session().cpu_time(&after));
    const double ms = (after - before) / 10000.0;
    std::printf("CPU time: %.1f ms up to the start, %.1f ms over %lu ms idle\n", before / 10000.0,
                ms, static_cast<unsigned long>(IDLE_MS));
    RecordProperty("idle_cpu_ms", static_cast<int>(ms));
    // A message loop that polls would use most of it.
    EXPECT_LT(ms, IDLE_MS / 10.0);
    ASSERT_NO_FATAL_FAILURE(p.exit_and_expect_restore());
}

} // namespace
