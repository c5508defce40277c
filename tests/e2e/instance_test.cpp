// One copy of sorvenka.exe at a time, and its texts: Japanese on code page
// 932, English elsewhere (the run's locale decides, E2E_LANGUAGE says which
// the run is meant for); the About box; the Windows version Wine reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "e2e.h"
#include "resource.h"
#include "trace.h"

namespace
{

using e2e::Program;

struct Language {
    std::vector<std::string> menu; // as the program sets it; none: the resource's
    std::string about_caption, warning, ports_refused, last_run_unrestored, no_mechanism1;
};

// Code page 932, made from the UTF-8 texts by Python's cp932 codec:
// "「Sov」Version", "既に起動しています.", "Windows 95, 98, Me または PCI の
// ポートを開くドライバが必要です. 書き込んだバイトはすべて元に戻しました.",
// "前回の Sorvenka は PCI のバイトを元に戻さずに終わりました. Windows を再起動
// してから起動してください. 何も変更していません." and "この PC には PCI
// コンフィギュレーション・メカニズム #1 がありません. 何も変更していません."
const Language JAPANESE{
    {},
    "\x81\x75Sov\x81\x76Version",
    "\x8A\xF9\x82\xC9\x8B\x4E\x93\xAE\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7.",
    "Windows 95, 98, Me \x82\xDC\x82\xBD\x82\xCD PCI "
    "\x82\xCC\x83|\x81["
    "\x83g\x82\xF0\x8AJ\x82\xAD\x83h\x83\x89\x83\x43\x83o\x82\xAA\x95K\x97v\x82\xC5\x82\xB7. "
    "\x8F\x91\x82\xAB\x8D\x9E\x82\xF1\x82\xBE\x83o\x83\x43\x83g\x82\xCD\x82\xB7\x82\xD7\x82\xC4\x8C"
    "\xB3\x82\xC9\x96\xDF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.",
    "\x91O\x89\xF1\x82\xCC Sorvenka \x82\xCD PCI "
    "\x82\xCC\x83o\x83\x43\x83g\x82\xF0\x8C\xB3\x82\xC9\x96\xDF\x82\xB3\x82\xB8\x82\xC9\x8FI\x82"
    "\xED\x82\xE8\x82\xDC\x82\xB5\x82\xBD. Windows "
    "\x82\xF0\x8D\xC4\x8BN\x93\xAE\x82\xB5\x82\xC4\x82\xA9\x82\xE7\x8BN\x93\xAE\x82\xB5\x82\xC4\x82"
    "\xAD\x82\xBE\x82\xB3\x82\xA2. "
    "\x89\xBD\x82\xE0\x95\xCF\x8DX\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB9\x82\xF1.",
    "\x82\xB1\x82\xCC PC \x82\xC9\x82\xCD PCI "
    "\x83R\x83\x93\x83t\x83\x42\x83M\x83\x85\x83\x8C\x81["
    "\x83V\x83\x87\x83\x93\x81\x45\x83\x81\x83J\x83j\x83Y\x83\x80 #1 "
    "\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1. "
    "\x89\xBD\x82\xE0\x95\xCF\x8DX\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB9\x82\xF1."};
const Language ENGLISH{
    {"Version", "Exit"},
    "[Sov]Version",
    "Already running.",
    "Sorvenka needs Windows 95, 98 or Me, or a driver that opens the PCI ports. Every byte it had "
    "written has been put back.",
    "The last run of Sorvenka ended without putting the PCI bytes back. Restart Windows before "
    "starting it again. Nothing was changed.",
    "This PC has no PCI configuration mechanism #1. Sorvenka changed nothing."};

const Language &language()
{
    EXPECT_EQ(GetACP() == 932, !e2e::english()) << "the run's locale gives code page " << GetACP();
    return e2e::english() ? ENGLISH : JAPANESE;
}

struct Copies {
    const char *name;
    int count;
    bool first_alone; // the first runs before the others start; else all at once
};

TEST(Instance, OneCopyRunsTheOthersWarnAndTouchNothing)
{
    const Language &l = language();
    const Copies cases[] = {{"second_copy", 2, true}, {"started_together", 4, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::unique_ptr<Program>> copies;
        for (int i = 0; i < c.count; ++i) {
            e2e::Options o;
            o.window = c.first_alone && i == 0;
            o.watch = false;
            copies.push_back(std::make_unique<Program>(std::string(c.name) + std::to_string(i), o));
            ASSERT_TRUE(copies.back()->started());
        }
        std::vector<HWND> windows(c.count), boxes(c.count);
        auto found = [](const std::vector<HWND> &v) {
            return std::count_if(v.begin(), v.end(), [](HWND h) { return h != nullptr; });
        };
        harness::wait_until(
            [&] {
                for (int i = 0; i < c.count; ++i) {
                    const DWORD pid = copies[i]->session().pid();
                    auto w = harness::top_windows(pid, TRAY_CLASS_NAME, TRAY_CLASS_NAME);
                    auto b = harness::top_windows(pid, "#32770", "CAUTION");
                    windows[i] = w.empty() ? windows[i] : w.front();
                    boxes[i] = b.empty() ? boxes[i] : b.front();
                }
                return found(windows) + found(boxes) >= c.count;
            },
            3 * e2e::TIMEOUT_MS);
        ASSERT_EQ(found(windows), 1);
        ASSERT_EQ(found(boxes), c.count - 1);
        if (c.first_alone) {
            EXPECT_NE(windows[0], nullptr);
        }
        for (int i = 0; i < c.count; ++i) {
            SCOPED_TRACE(i);
            Program &p = *copies[i];
            if (windows[i])
                continue;
            EXPECT_TRUE(e2e::box_says(p.session().pid(), "CAUTION", l.warning));
            EXPECT_EQ(p.wait_exit(), 0u);
            EXPECT_TRUE(p.session().trace().empty());
        }
        for (int i = 0; i < c.count; ++i) {
            if (!windows[i])
                continue;
            copies[i]->window = windows[i];
            EXPECT_FALSE(copies[i]->session().exited());
            ASSERT_NO_FATAL_FAILURE(copies[i]->exit_and_expect_restore());
        }
    }
}

std::size_t about_boxes(const Program &p, const Language &l)
{
    return harness::top_windows(p.session().pid(), "#32770", l.about_caption).size();
}

struct AboutKey {
    const char *name;
    bool (*press)(HWND box);
    bool closes;
};

TEST(Instance, MenuAndAboutBoxSpeakTheCodePagesLanguage)
{
    const Language &l = language();
    Program p("texts");
    ASSERT_NE(p.window, nullptr);
    const DWORD pid = p.session().pid();
    const std::size_t ops = p.session().trace_size();
    std::vector<std::string> menu;
    for (const auto &c : p.calls("ModifyMenuA")) {
        EXPECT_EQ(c.args[1], c.args[3]); // by command, keeping the command
        EXPECT_EQ(c.args[2], unsigned(MF_BYCOMMAND | MF_STRING));
        menu.push_back(p.session().read_string(c.args[4]));
    }
    EXPECT_EQ(menu, l.menu);

    const AboutKey keys[] = {
        {"esc", [](HWND b) { return harness::post_key(b, VK_ESCAPE); }, false},
        {"close_request", [](HWND b) { return harness::post_close(b); }, false},
        {"enter", [](HWND b) { return harness::post_key(b, VK_RETURN); }, true},
        {"ok", [](HWND b) { return harness::click(b, IDOK); }, true},
    };
    for (const auto &k : keys) {
        SCOPED_TRACE(k.name);
        harness::post_command(p.window, IDM_VERSION);
        HWND box = harness::wait_window(pid, "#32770", l.about_caption, e2e::TIMEOUT_MS);
        ASSERT_NE(box, nullptr);
        auto controls = harness::children(box);
        ASSERT_EQ(controls.size(), 4u);
        EXPECT_EQ(controls[0].id, IDOK);
        EXPECT_EQ(controls[0].text, "OK");
        EXPECT_EQ(controls[1].text, "Sorvenka Ver " SORVENKA_VERSION_TEXT);
        EXPECT_TRUE(k.press(box));
        // The marker goes to the window, which outlives a box that wrongly
        // closed.
        ASSERT_TRUE(e2e::barrier(p.session(), p.window));
        if (!k.closes) {
            EXPECT_TRUE(IsWindow(box));
            harness::post_key(box, VK_RETURN);
        }
        EXPECT_TRUE(harness::wait_no_window(pid, "#32770", l.about_caption, e2e::TIMEOUT_MS));
    }

    // The window keeps no record of an open box: the second command reaches
    // it through the first box's modal loop and opens a box over it.
    harness::post_command(p.window, IDM_VERSION);
    harness::post_command(p.window, IDM_VERSION);
    EXPECT_TRUE(harness::wait_until([&] { return about_boxes(p, l) == 2; }, e2e::TIMEOUT_MS));
    for (HWND b : harness::top_windows(pid, "#32770", l.about_caption))
        EXPECT_TRUE(harness::click(b, IDOK));
    EXPECT_TRUE(harness::wait_no_window(pid, "#32770", l.about_caption, e2e::TIMEOUT_MS));
    EXPECT_EQ(p.session().trace_size(), ops);
    ASSERT_NO_FATAL_FAILURE(p.exit_and_expect_restore());
}

// An earlier copy that Windows ended (End Task) before its restore; its
// session, and with it the marker, lives on until the case ends.
std::unique_ptr<Program> end_task_first()
{
    auto first = std::make_unique<Program>("end_task_first");
    EXPECT_NE(first->window, nullptr);
    first->session().terminate(1);
    EXPECT_TRUE(first->session().wait_exit(e2e::TIMEOUT_MS));
    return first;
}

// Two lines on the host bridge: PAM3 through 0xCFC, then PAM4 through 0xCFD.
const char PAM_LINES[] = "5C,33,0,0\n5D,30,0,0\n";

struct Refusal {
    const char *name;
    const char *const *exe;
    std::string Language::*message;
    DWORD code;
    // Sets the start up; may return an earlier copy to keep until the end.
    std::function<std::unique_ptr<Program>(e2e::Options &)> setup;
    // The whole trace when the harness sees the ports; null when it does not.
    std::function<Trace(const sim::Chipset &)> ports;
};

// Start-ups that end with a message and every byte as it was before.
TEST(Instance, RefusedStartsShowAMessageAndLeaveEveryByteAsBefore)
{
    const Language &l = language();
    const Refusal cases[] = {
        // An NT-family Windows without a port driver: Wine itself refuses
        // the first port instruction and hands the fault to the program.
        // Wine carries one out for a copy it reports Windows 9x to.
        {"nt_without_port_driver", &e2e::SORVENKA_NT_EXE, &Language::ports_refused,
         static_cast<DWORD>(-997),
         [](e2e::Options &o) {
             o.prepare = [](harness::Session &s) { s.set_port_emulation(false); };
             return nullptr;
         },
         nullptr},
        // A driver that opens 0xCF8-0xCFC only: line 1 is applied, line 2
        // faults at its read and line 1 goes back.
        {"driver_opens_cf8_to_cfc", &e2e::SORVENKA_EXE, &Language::ports_refused,
         static_cast<DWORD>(-997),
         [](e2e::Options &o) {
             o.settings = PAM_LINES;
             o.prepare = [](harness::Session &s) { s.refuse_ports(0xCFD, 0xCFF); };
             return nullptr;
         },
         [](const sim::Chipset &m) {
             const std::uint8_t pam3 = m.peek({0, 0, 0}, 0x5C);
             return mechanism_test() + applied_line(0x8000005C, 0x33, pam3) +
                    Trace{sim::out32(0xCF8, 0x8000005D)} + restored(0x8000005C, 0xCFC, pam3);
         }},
        // 0xCF8 is no CONFIG_ADDRESS (a Mechanism #2 board): only the test.
        {"no_mechanism1", &e2e::SORVENKA_EXE, &Language::no_mechanism1, static_cast<DWORD>(-995),
         [](e2e::Options &o) {
             o.machine.set_mechanism1(false);
             return nullptr;
         },
         [](const sim::Chipset &) {
             const std::uint32_t none = 0xFFFFFFFF;
             return Trace{{sim::PortOp::In, 4, 0xCF8, none},
                          sim::out32(0xCF8, 0x80000000),
                          {sim::PortOp::In, 4, 0xCF8, none},
                          sim::out32(0xCF8, none)};
         }},
        // The bytes now may be the ended copy's: none is taken for the BIOS's.
        {"after_end_task", &e2e::SORVENKA_EXE, &Language::last_run_unrestored,
         static_cast<DWORD>(-996), [](e2e::Options &) { return end_task_first(); },
         [](const sim::Chipset &) { return Trace{}; }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        e2e::Options o;
        o.exe = *c.exe;
        o.window = false;
        o.watch = false;
        std::unique_ptr<Program> earlier = c.setup(o);
        Program p(std::string("refused_") + c.name, o);
        ASSERT_TRUE(p.started());
        EXPECT_TRUE(e2e::box_says(p.session().pid(), "Sorvenka", l.*c.message));
        DWORD code = 0;
        ASSERT_TRUE(p.session().wait_exit(e2e::TIMEOUT_MS, &code));
        EXPECT_EQ(code, c.code);
        if (c.ports) {
            EXPECT_TRACE(p.session().trace(), c.ports(p.machine()));
            p.expect_machine_as_before();
        }
        // An ended copy's marker goes with its session.
        earlier.reset();
        EXPECT_EQ(GlobalFindAtomA(CHANGED_MARKER_NAME), 0) << "a marker with every byte back";
    }
}

TEST(Windows, ProgramSeesTheConfiguredVersion)
{
    // E2E_WINDOWS names the version the run's program copy is set up for.
    const char *configured = std::getenv("E2E_WINDOWS");
    const std::string windows = configured ? configured : "";
    Program p("windows_version");
    ASSERT_NE(p.window, nullptr);
    harness::Session::OsVersion v{};
    ASSERT_TRUE(p.session().os_version(&v));
    if (windows == "win98") {
        EXPECT_EQ(v.platform, unsigned(VER_PLATFORM_WIN32_WINDOWS));
        EXPECT_EQ(v.major * 100 + v.minor, 410u);
    } else if (windows == "win95") {
        EXPECT_EQ(v.platform, unsigned(VER_PLATFORM_WIN32_WINDOWS));
        EXPECT_EQ(v.major * 100 + v.minor, 400u);
    } else {
        EXPECT_EQ(v.platform, unsigned(VER_PLATFORM_WIN32_NT));
    }
    ASSERT_NO_FATAL_FAILURE(p.exit_and_expect_restore());
}

} // namespace
