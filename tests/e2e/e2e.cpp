#include "e2e.h"

#include "resource.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

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

const char *const SETTINGS = "41,5A,7,1\n60,80,7\n";
const sim::Bdf IDE{0, 7, 1}, ISA{0, 7, 0};

Trace applied_settings(const sim::Chipset &m)
{
    return applied_line(0x80003941, 0x5A, m.peek(IDE, 0x41)) +
           applied_line(0x80003860, 0x80, m.peek(ISA, 0x60));
}

Trace restored_settings(const sim::Chipset &m)
{
    return restored(0x80003860, 0xCFC, m.peek(ISA, 0x60)) +
           restored(0x80003941, 0xCFD, m.peek(IDE, 0x41));
}

void exit_and_expect_restore(harness::Session &session, HWND window, const sim::Chipset &m)
{
    harness::post_command(window, IDM_EXIT);
    DWORD code = 1;
    ASSERT_TRUE(session.wait_exit(TIMEOUT_MS, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRACE(session.trace(), applied_settings(m) + restored_settings(m));
}

std::string work_dir(const std::string &name, const char *cfg)
{
    std::string dir = std::string(E2E_WORK_ROOT) + "/" + name;
    std::string win = harness::windows_path(dir);
    CreateDirectoryA(harness::windows_path(E2E_WORK_ROOT).c_str(), nullptr);
    CreateDirectoryA(win.c_str(), nullptr);
    std::string file = win + "\\kvtl.cfg";
    DeleteFileA(file.c_str());
    if (cfg) {
        FILE *f = std::fopen(file.c_str(), "wb");
        std::fputs(cfg, f);
        std::fclose(f);
    }
    return dir;
}

bool barrier(harness::Session &session, HWND window)
{
    return session.barrier(window, TIMEOUT_MS);
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

bool install()
{
    if (const char *started = std::getenv("SORVENKA_STARTED_FILE")) {
        if (FILE *f = std::fopen(harness::windows_path(started).c_str(), "wb"))
            std::fclose(f);
    }
    ::testing::UnitTest::GetInstance()->listeners().Append(new WineFaults);
    ::testing::AddGlobalTestEnvironment(new WineServices);
    return true;
}

[[maybe_unused]] const bool installed = install();

} // namespace

} // namespace e2e
