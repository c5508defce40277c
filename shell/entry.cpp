// The process entry. There is no C runtime: the loader jumps here, and the
// command line and show state are never read.
#include "app_main.h"

extern "C" void sorvenka_entry()
{
    ExitProcess(static_cast<UINT>(app_main(GetModuleHandleA(nullptr))));
}
