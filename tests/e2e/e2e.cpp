#include "e2e.h"

#include "resource.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace e2e
{

const char *const PORT_PROBE_EXE = E2E_PORT_PROBE_EXE;
namespace
{
// The test run may name other copies: Wine tells a program the Windows
// version that its file name is configured for.
const char *program(const char *variable, const char *built)
{
    const char *named = std::getenv(variable);
    return named && *named ? named : built;
}
} // namespace

const char *const SORVENKA_EXE = program("E2E_SORVENKA_EXE", E2E_SORVENKA_EXE);
const char *const SORVENKA_NOICON_EXE = program("E2E_SORVENKA_NOICON_EXE", E2E_SORVENKA_NOICON_EXE);
const char *const SORVENKA_NOMENU_EXE = program("E2E_SORVENKA_NOMENU_EXE", E2E_SORVENKA_NOMENU_EXE);
const char *const SORVENKA_NT_EXE = E2E_SORVENKA_EXE;

const char *const SETTINGS = "41,D3,7,1\n60,80,7\n";
const sim::Bdf IDE{0, 7, 1}, ISA{0, 7, 0};
const Watched WATCHED[5] = {{"Shell_NotifyIconA", 2},
                            {"SetForegroundWindow", 1},
                            {"TrackPopupMenu", 7},
                            {"PostMessageA", 4},
                            {"ModifyMenuA", 5}};

Trace applied_settings(const sim::Chipset &m)
{
    return mechanism_test() + applied_line(0x80003941, 0xD3, m.peek(IDE, 0x41)) +
           applied_line(0x80003860, 0x80, m.peek(ISA, 0x60));
}

Trace restored_settings(const sim::Chipset &m)
{
    return restored(0x80003860, 0xCFC, m.peek(ISA, 0x60)) +
           restored(0x80003941, 0xCFD, m.peek(IDE, 0x41));
}

bool english()
{
    const char *language = std::getenv("E2E_LANGUAGE");
    return language && std::string(language) == "english";
}

std::string work_dir(const std::string &name, const std::string *cfg)
{
    std::string dir = std::string(E2E_WORK_ROOT) + "/" + name;
    std::string win = harness::windows_path(dir);
    CreateDirectoryA(harness::windows_path(E2E_WORK_ROOT).c_str(), nullptr);
    CreateDirectoryA(win.c_str(), nullptr);
    std::string file = win + "\\kvtl.cfg";
    DeleteFileA(file.c_str());
    if (cfg) {
        FILE *f = std::fopen(file.c_str(), "wb");
        std::fwrite(cfg->data(), 1, cfg->size(), f);
        std::fclose(f);
    }
    return dir;
}

std::string read_file(const std::string &path)
{
    std::string data;
    FILE *f = std::fopen(harness::windows_path(path).c_str(), "rb");
    if (!f)
        return data;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.append(buf, n);
    std::fclose(f);
    return data;
}

void write_file(const std::string &path, const std::string &data)
{
    FILE *f = std::fopen(harness::windows_path(path).c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

Program::Program(const std::string &name, Options options) : options_(std::move(options))
{
    dir_ = work_dir(name, options_.no_settings ? nullptr : &options_.settings);
    session_ = std::make_unique<harness::Session>(options_.exe ? options_.exe : SORVENKA_EXE, dir_,
                                                  options_.machine);
    session_->set_arguments(options_.arguments);
    if (options_.output)
        session_->set_output(dir_ + "/stdout.txt", dir_ + "/stderr.txt");
    if (options_.watch) {
        for (const auto &w : WATCHED)
            session_->watch(w.name, w.args);
        // Every later tray call succeeds: whether Wine has a taskbar here
        // is not what these tests are about.
        std::vector<std::uint32_t> answers = options_.tray_answers;
        answers.insert(answers.end(), 100, TRUE);
        session_->fake_results("Shell_NotifyIconA", answers);
    }
    if (options_.prepare)
        options_.prepare(*session_);
    std::string error;
    started_ = session_->start(&error);
    EXPECT_TRUE(started_) << error;
    if (!started_ || !options_.window)
        return;
    window = harness::wait_window(session_->pid(), TRAY_CLASS_NAME, TRAY_CLASS_NAME, TIMEOUT_MS);
    EXPECT_NE(window, nullptr);
    hwnd = static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(window));
    if (options_.watch) {
        EXPECT_TRUE(session_->watching(&error)) << error;
    }
}

bool Program::wait_calls(std::size_t n, const char *function, DWORD ms) const
{
    return harness::wait_until([&] { return calls(function).size() >= n; }, ms);
}

DWORD Program::wait_exit(DWORD ms)
{
    DWORD code = 0xDEAD;
    EXPECT_TRUE(session_->wait_exit(ms, &code)) << "the program did not end";
    EXPECT_TRUE(session_->unhandled().empty()) << "exception in the program";
    return code;
}

void Program::exit_and_expect_restore()
{
    harness::post_command(window, IDM_EXIT);
    expect_ended_restored(0);
}

void Program::expect_ended_restored(DWORD code, const Trace *expected)
{
    ASSERT_EQ(wait_exit(), code);
    const sim::Chipset &m = options_.machine;
    EXPECT_TRACE(session_->trace(),
                 expected ? *expected : applied_settings(m) + restored_settings(m));
    expect_machine_as_before();
    EXPECT_EQ(GlobalFindAtomA(CHANGED_MARKER_NAME), 0) << "the marker outlives the restore";
}

void Program::expect_machine_as_before() const
{
    const sim::Chipset now = session_->machine();
    for (const auto &f : options_.machine.functions())
        EXPECT_EQ(now.functions().at(f.first).bytes, f.second.bytes) << sim::format(f.first);
}

bool barrier(harness::Session &session, HWND window)
{
    return session.barrier(window, TIMEOUT_MS);
}

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

::testing::AssertionResult box_says(DWORD pid, const std::string &caption, const std::string &text)
{
    HWND box = harness::wait_window(pid, "#32770", caption, TIMEOUT_MS);
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

namespace
{

[[noreturn]] void wine_failed(const std::string &where, const std::string &why)
{
    std::fprintf(stderr, "\nWine failed, not the program (%s): %s\n", where.c_str(), why.c_str());
    std::fflush(stderr);
    std::fflush(stdout);
    // The verdict also goes into a file: under qemu-user, Wine's own exit
    // path can fail after this point and end the process with another status.
    if (const char *file = std::getenv("SORVENKA_WINE_FAILED_FILE"))
        if (FILE *f = std::fopen(file, "w"))
            std::fclose(f);
    ExitProcess(harness::INFRASTRUCTURE_EXIT);
}

class WineFaults : public ::testing::EmptyTestEventListener
{
    void OnTestStart(const ::testing::TestInfo &) override { harness::clear_wine_fault(); }
    void OnTestEnd(const ::testing::TestInfo &test) override
    {
        std::string fault = harness::wine_fault();
        if (test.result()->Failed() && !fault.empty())
            wine_failed(std::string(test.test_suite_name()) + "." + test.name(), fault);
    }
};

// Wine's desktop window lives in its explorer process: when that never came
// up, no window of any program can work.
class WineServices : public ::testing::Environment
{
    void SetUp() override
    {
        DWORD_PTR ignored = 0;
        HWND desktop = GetDesktopWindow();
        if (!desktop)
            wine_failed("start", "there is no desktop window");
        // Under qemu-user the 32-bit explorer that owns it dies within
        // seconds, every time; the programs' windows work without it. Only
        // a desktop whose explorer runs and does not answer is Wine failing.
        DWORD pid = 0;
        GetWindowThreadProcessId(desktop, &pid);
        HANDLE owner = pid ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
        const bool runs = owner && WaitForSingleObject(owner, 0) == WAIT_TIMEOUT;
        if (owner)
            CloseHandle(owner);
        if (runs &&
            !SendMessageTimeoutA(desktop, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, TIMEOUT_MS, &ignored))
            wine_failed("start", "the desktop window does not answer");
    }
};

// How this program itself ended abnormally, for the test wiring: an
// unhandled exception's code, or "abort". A run that ends without
// GoogleTest's verdict and without this record did not fail in its own code
// (wine_retry.py): Wine, or the qemu-user under it, died beneath it.
std::string g_ending_file;
LPTOP_LEVEL_EXCEPTION_FILTER g_previous_filter;

void record_ending(const char *how)
{
    if (FILE *f = std::fopen(g_ending_file.c_str(), "wb")) {
        std::fputs(how, f);
        std::fclose(f);
    }
}

LONG WINAPI UnhandledProc(EXCEPTION_POINTERS *e)
{
    char code[16];
    std::snprintf(code, sizeof code, "%08lx", e->ExceptionRecord->ExceptionCode);
    record_ending(code);
    return g_previous_filter ? g_previous_filter(e) : EXCEPTION_CONTINUE_SEARCH;
}

void AbortProc(int)
{
    record_ending("abort");
    _exit(3);
}

bool install()
{
    if (const char *started = std::getenv("SORVENKA_STARTED_FILE")) {
        if (FILE *f = std::fopen(harness::windows_path(started).c_str(), "wb"))
            std::fclose(f);
    }
    if (const char *ending = std::getenv("SORVENKA_ENDING_FILE")) {
        g_ending_file = harness::windows_path(ending);
        g_previous_filter = SetUnhandledExceptionFilter(UnhandledProc);
        std::signal(SIGABRT, AbortProc);
    }
    ::testing::UnitTest::GetInstance()->listeners().Append(new WineFaults);
    ::testing::AddGlobalTestEnvironment(new WineServices);
    return true;
}

[[maybe_unused]] const bool installed = install();

} // namespace

} // namespace e2e
