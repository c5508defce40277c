// One copy of sorvenka.exe at a time, and its texts: Japanese on code page
// 932, English elsewhere (the run's locale decides, E2E_LANGUAGE says which
// the run is meant for); the About box; the Windows version Wine reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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
    std::string about_caption, warning, ports_refused;
};

// "「Sov」Version", "既に起動しています." and "Windows 95, 98, Me または
// PCI のポートを開くドライバが必要です." in code page 932.
const Language JAPANESE{
    {},
    "\x81\x75Sov\x81\x76Version",
    "\x8A\xF9\x82\xC9\x8B\x4E\x93\xAE\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB7.",
    "Windows 95, 98, Me \x82\xDC\x82\xBD\x82\xCD PCI \x82\xCC\x83|\x81[\x83g\x82\xF0\x8AJ\x82\xAD"
    "\x83h\x83\x89\x83\x43\x83o\x82\xAA\x95K\x97v\x82\xC5\x82\xB7."};
const Language ENGLISH{
    {"Version", "Exit"},
    "[Sov]Version",
    "Already running.",
    "Sorvenka needs Windows 95, 98 or Me, or a driver that opens the PCI ports."};

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

// A system that refuses the port instructions (an NT-family Windows
// without a port driver): a message and the program's own exit code, no
// crash, no port. Only the copy Wine reports NT to: told it runs Windows
// 9x, Wine carries out a refused port instruction itself, as 9x would have
// let it through.
TEST(Instance, RefusedPortsEndWithAMessageAndTouchNothing)
{
    const Language &l = language();
    e2e::Options o;
    o.exe = e2e::SORVENKA_NT_EXE;
    o.window = false;
    o.watch = false;
    o.prepare = [](harness::Session &s) { s.set_port_emulation(false); };
    Program p("ports_refused", o);
    ASSERT_TRUE(p.started());
    EXPECT_TRUE(e2e::box_says(p.session().pid(), "Sorvenka", l.ports_refused));
    DWORD code = 0;
    ASSERT_TRUE(p.session().wait_exit(e2e::TIMEOUT_MS, &code));
    EXPECT_EQ(code, static_cast<DWORD>(-997));
    EXPECT_TRUE(p.session().trace().empty());
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
