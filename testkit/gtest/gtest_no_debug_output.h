// googletest passes every failure message to OutputDebugStringA as well, for
// a debugger's output window. Under Wine on qemu-user the exception that
// OutputDebugStringA raises takes the test process down right after the
// first failure, so the rest of the run would be lost. Force-included into
// googletest and its users, after <windows.h>.
#pragma once

#include <windows.h>

inline void e2e_no_debug_output(const char *) {}
#define OutputDebugStringA e2e_no_debug_output
