// Paths, limits and helpers shared by the tests that run programs under the
// harness.
#pragma once

#include <windows.h>

#include <string>

#include "harness.h"
#include "trace.h"

namespace e2e
{

// Generous: the first start of a program under qemu-user translates a lot.
constexpr DWORD TIMEOUT_MS = 20000;

extern const char *const PORT_PROBE_EXE;
extern const char *const SORVENKA_EXE;
// Builds of the program without icon group 103 and without menu 102.
extern const char *const SORVENKA_NOICON_EXE;
extern const char *const SORVENKA_NOMENU_EXE;

// The settings file most program tests start with, and the port operations
// that apply it on `m` and put it back (the last line first).
extern const char *const SETTINGS;
Trace applied_settings(const sim::Chipset &m);
Trace restored_settings(const sim::Chipset &m);
// The shutdown through Exit: every byte of SETTINGS back after the start-up
// writes on `m`, and exit code 0. Call it inside ASSERT_NO_FATAL_FAILURE.
void exit_and_expect_restore(harness::Session &session, HWND window, const sim::Chipset &m);

// A fresh working directory for one test, holding kvtl.cfg with `cfg` (no
// file when `cfg` is null). Host path.
std::string work_dir(const std::string &name, const char *cfg);

// Waits until the program has handled every message posted to the thread of
// `window` so far: a check that posted messages did nothing holds only
// after this. False when the program ended first or the wait timed out.
// (A sent WM_NULL is no such barrier: a thread takes sent messages before
// posted ones.)
bool barrier(harness::Session &session, HWND window);

// Every test program here: a test that fails while a Session saw Wine
// itself fail (harness::wine_fault) ends the test program at once with
// harness::INFRASTRUCTURE_EXIT, the one status the test wiring retries on.
// A failure of the program under test is never turned into it. At start the
// test program also checks that Wine's desktop answers, and creates the
// file named by SORVENKA_STARTED_FILE (if set): a run without it never
// reached the test program's own code.

} // namespace e2e
