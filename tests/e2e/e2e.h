// Paths and limits shared by the tests that run programs under the harness.
#pragma once

#include <windows.h>

#include <string>

#include "harness.h"

namespace e2e
{

// Generous: the first start of a program under qemu-user translates a lot.
constexpr DWORD TIMEOUT_MS = 20000;

extern const char *const PORT_PROBE_EXE;
extern const char *const SORVENKA_EXE;
// Builds of the program without icon group 103 and without menu 102.
extern const char *const SORVENKA_NOICON_EXE;
extern const char *const SORVENKA_NOMENU_EXE;

// A fresh working directory for one test, holding kvtl.cfg with `cfg` (no
// file when `cfg` is null). Host path.
std::string work_dir(const std::string &name, const char *cfg);

} // namespace e2e
