#include "e2e.h"

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

} // namespace e2e
