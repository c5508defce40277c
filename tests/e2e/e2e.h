// The one launcher of the end-to-end tests: a Windows 9x program under the
// harness on the virtual chipset, with its settings file, machine and
// command line, in the Windows version and code page the run was set up
// for (by the ctest entry: a program copy Wine knows by name, a locale).
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"
#include "trace.h"

namespace e2e
{

// Generous: the first start of a program under qemu-user translates a lot.
constexpr DWORD TIMEOUT_MS = 20000;

extern const char *const PORT_PROBE_EXE;
// sorvenka.exe as the run names it (a copy that Wine reports Windows 98 or
// 95 to), and the builds without icon group 103 and without menu 102.
extern const char *const SORVENKA_EXE;
extern const char *const SORVENKA_NOICON_EXE;
extern const char *const SORVENKA_NOMENU_EXE;
// sorvenka.exe as built, whatever the run names: Wine reports its own
// NT-family version to it.
extern const char *const SORVENKA_NT_EXE;

// The settings file most program tests start with, and the port operations
// that apply it on `m` and put it back (the last line first).
extern const char *const SETTINGS;
Trace applied_settings(const sim::Chipset &m);
Trace restored_settings(const sim::Chipset &m);
extern const sim::Bdf IDE, ISA; // the two functions SETTINGS writes to

// The run's language, from E2E_LANGUAGE: Wine derives the code page from
// the Unix locale the run starts with.
bool english();

// A fresh working directory for one test, holding kvtl.cfg with `cfg` (no
// file when `cfg` is null). Host path.
std::string work_dir(const std::string &name, const std::string *cfg);
std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &data);

// The system functions whose calls the program tests follow, with their
// argument counts; a run that watches them has a taskbar that takes every
// icon unless told otherwise.
struct Watched {
    const char *name;
    int args;
};
extern const Watched WATCHED[5];

struct Options {
    const char *exe = nullptr;       // nullptr: SORVENKA_EXE
    std::string settings = SETTINGS; // kvtl.cfg
    bool no_settings = false;        // no kvtl.cfg at all
    sim::Chipset machine = sim::default_machine();
    std::string arguments;                           // after the program's name
    bool output = false;                             // standard output and error to files
    bool window = true;                              // wait for the tray window
    bool watch = true;                               // follow WATCHED
    std::vector<std::uint32_t> tray_answers;         // Shell_NotifyIconA's first results
    std::function<void(harness::Session &)> prepare; // last thing before the start
};

// One program under the harness: started by the constructor (failures are
// test failures; check window, or started(), before going on).
class Program
{
public:
    Program(const std::string &name, Options options = {});
    harness::Session &session() { return *session_; }
    const harness::Session &session() const { return *session_; }
    const sim::Chipset &machine() const { return options_.machine; }
    bool started() const { return started_; }
    HWND window = nullptr;
    std::uint32_t hwnd = 0; // the window as the program's arguments carry it

    std::vector<harness::Call> calls(const char *function = "") const
    {
        return session_->calls(function);
    }
    bool wait_calls(std::size_t n, const char *function = "", DWORD ms = TIMEOUT_MS) const;
    // Waits for the end; the exit code, or 0xDEAD on time-out (a failure).
    DWORD wait_exit(DWORD ms = TIMEOUT_MS);
    std::string out() const { return read_file(dir_ + "/stdout.txt"); }
    std::string err() const { return read_file(dir_ + "/stderr.txt"); }

    // The stop with the restore check: through Exit, every byte of SETTINGS
    // back after the start-up writes, and exit code 0. Call it inside
    // ASSERT_NO_FATAL_FAILURE.
    void exit_and_expect_restore();
    // The program has ended (or ends) with `code`, its whole port trace is
    // `expected` (SETTINGS applied and put back when null), every byte of
    // the machine is as before the start, and its marker atom is gone.
    void expect_ended_restored(DWORD code, const Trace *expected = nullptr);
    // Every byte of the machine is as before the start.
    void expect_machine_as_before() const;

private:
    Options options_;
    std::string dir_;
    std::unique_ptr<harness::Session> session_;
    bool started_ = false;
};

// Waits until the program has handled every message posted to the thread of
// `window` so far: a check that posted messages did nothing holds only
// after this. False when the program ended first or the wait timed out.
// (A sent WM_NULL is no such barrier: a thread takes sent messages before
// posted ones.)
bool barrier(harness::Session &session, HWND window);

// Calls as a table: the function and as many leading arguments as given;
// an argument of ANY matches anything.
constexpr std::uint32_t ANY = 0xA5A5A5A5;
struct Expected {
    const char *function;
    std::vector<std::uint32_t> args;
};
::testing::AssertionResult same_calls(const std::vector<harness::Call> &actual,
                                      const std::vector<Expected> &expected);
#define EXPECT_CALLS(actual, ...) EXPECT_TRUE(e2e::same_calls((actual), __VA_ARGS__))

// A box of `pid` so captioned that holds `text` among its controls; Enter
// closes it.
::testing::AssertionResult box_says(DWORD pid, const std::string &caption, const std::string &text);

// Every test program here: a test that fails while a Session saw Wine
// itself fail (harness::wine_fault) ends the test program at once with
// harness::INFRASTRUCTURE_EXIT, the one status the test wiring retries on.
// A failure of the program under test is never turned into it. At start the
// test program also checks that Wine's desktop answers, and creates the
// file named by SORVENKA_STARTED_FILE (if set): a run without it never
// reached the test program's own code.

} // namespace e2e
