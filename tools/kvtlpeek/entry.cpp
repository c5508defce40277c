// The process entry: no C runtime, so the command line is split here and the
// result goes to ExitProcess.
#include "kvtlpeek.h"

#include "file_io.h"

static const int EXIT_OK = 0;
static const int EXIT_USAGE = 2; // also: the settings file cannot be read
static const int EXIT_NT = 3;
static const int EXIT_NO_MECHANISM = 4;

static const char USAGE[] =
    "usage: kvtlpeek          every PCI function, as lspci -xxx shows it\r\n"
    "       kvtlpeek FILE     what FILE (a kvtl.cfg) would change here\r\n"
    "Reads configuration space and writes none of it.\r\n";

char g_fileName[MAX_PATH];

static const char *skip_blanks(const char *p)
{
    while (*p == ' ' || *p == '\t')
        p++;
    return p;
}

// Copies one argument (quotes group, and are dropped) into out; returns
// where the next one starts, or null when it does not fit.
static const char *take_argument(const char *p, char *out, int size)
{
    bool quoted = false;
    int n = 0;
    for (; *p && (quoted || (*p != ' ' && *p != '\t')); p++) {
        if (*p == '"') {
            quoted = !quoted;
            continue;
        }
        if (n + 1 >= size)
            return nullptr;
        out[n++] = *p;
    }
    out[n] = '\0';
    return p;
}

static int cannot_read()
{
    err_text("kvtlpeek: cannot read ");
    err_text(g_fileName);
    err_text("\r\n");
    return EXIT_USAGE;
}

static int peek_main()
{
    // The NT family stops a program at its first port instruction: say so
    // before touching anything.
    if (!(GetVersion() & 0x80000000u)) {
        err_text("kvtlpeek: Windows NT, 2000, XP and later refuse direct port access to "
                 "programs; kvtlpeek runs on Windows 95, 98 and Me.\r\n");
        return EXIT_NT;
    }

    char program[MAX_PATH];
    const char *p = take_argument(GetCommandLineA(), program, sizeof program);
    if (p)
        p = skip_blanks(p);
    if (p && *p)
        p = take_argument(p, g_fileName, sizeof g_fileName);
    if (!p || *skip_blanks(p)) {
        err_text(USAGE);
        return EXIT_USAGE;
    }
    if (g_fileName[0] == '/' && g_fileName[1] == '?' && !g_fileName[2]) {
        out_text(USAGE);
        out_flush();
        return EXIT_OK;
    }

    // The file first: a missing one is told without any port access.
    if (g_fileName[0]) {
        file_handle probe = file_open_read(g_fileName);
        if (!probe)
            return cannot_read();
        file_close(probe);
    }

    if (!mechanism1_present()) {
        err_text("kvtlpeek: this PC has no PCI configuration mechanism #1 (ports CF8 and CFC): "
                 "nothing can be read.\r\n");
        return EXIT_NO_MECHANISM;
    }

    bool read = true;
    if (!g_fileName[0])
        dump_machine();
    else
        read = preview_settings(g_fileName); // false: gone since the check above
    out_flush();
    return read ? EXIT_OK : cannot_read();
}

extern "C" void kvtlpeek_entry()
{
    ExitProcess(static_cast<UINT>(peek_main()));
}
