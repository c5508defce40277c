// The process entry: no C runtime, so the command line is split here and the
// result goes to ExitProcess.
#include "kvtlpeek.h"

#include "file_io.h"
#include "pci_config.h"

// Exit statuses (README): 0 done; 1 /d made more than 64 lines; 2 usage,
// or a file that cannot be read;
// 3 a Windows of the NT family; 4 no working configuration mechanism #1;
// 5 the output, /d's FILE or its table could not be written whole (a full
// disk);
// 6 (/s) no settings line can reach the register or set the bits asked for.
static const int EXIT_OK = 0;
static const int EXIT_USAGE = 2;
static const int EXIT_NT = 3;
static const int EXIT_NO_MECHANISM = 4;

static const char USAGE[] =
    "usage: kvtlpeek          every PCI function, as lspci -xxx shows it\r\n"
    "       kvtlpeek /h       only the 64-byte header of each, as lspci -x\r\n"
    "       kvtlpeek FILE     what FILE (a kvtl.cfg) would change here\r\n"
    "       kvtlpeek /d BEFORE AFTER [TABLE [FILE]]\r\n"
    "                         settings that turn dump BEFORE into AFTER to FILE or\r\n"
    "                         standard output, changes to TABLE or standard error\r\n"
    "       kvtlpeek /s BB:DD.F REG VALUE[:MASK]\r\n"
    "                         the line that sets MASK's bits of REG (hex) to VALUE's\r\n"
    "Reads configuration space and writes none of it.\r\n";

static const int MAX_ARGUMENTS = 5; // /d BEFORE AFTER TABLE FILE
static char g_argument[MAX_ARGUMENTS][MAX_PATH];
static int g_argumentCount;
static char *g_fileName = g_argument[0];

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

static bool is_switch(const char *arg, char letter)
{
    return arg[0] == '/' && (arg[1] == letter || arg[1] == letter - 'a' + 'A') && !arg[2];
}

// The arguments after the program's name; false when they do not fit.
static bool split_arguments()
{
    char program[MAX_PATH];
    const char *p = take_argument(GetCommandLineA(), program, sizeof program);
    for (p = p ? skip_blanks(p) : nullptr; p && *p; p = p ? skip_blanks(p) : nullptr) {
        if (g_argumentCount == MAX_ARGUMENTS)
            return false;
        p = take_argument(p, g_argument[g_argumentCount++], MAX_PATH);
    }
    return p != nullptr;
}

// Everything that goes to standard output has gone there, or the user hears
// that the file is cut short.
static int finish(int status)
{
    out_flush();
    return out_complete() ? status : output_lost("the output");
}

int ports_refused()
{
    err_text("kvtlpeek: Windows NT, 2000, XP and later refuse direct port access to "
             "programs; kvtlpeek runs on Windows 95, 98 and Me.\r\n");
    return EXIT_NT;
}

static int peek_main()
{
    // Two dumps compared: files only, on any Windows.
    if (!split_arguments()) {
        err_text(USAGE);
        return EXIT_USAGE;
    }
    if (g_argumentCount >= 3 && is_switch(g_argument[0], 'd'))
        return finish(diff_dumps(g_argument[1], g_argument[2], g_argument[3], g_argument[4]));

    // The NT family stops a program at its first port instruction: say so
    // before touching anything.
    if (!(GetVersion() & 0x80000000u))
        return ports_refused();

    bool set = is_switch(g_fileName, 's');
    int status = EXIT_OK;
    if (set && g_argumentCount == 4)
        status = set_arguments(g_argument[1], g_argument[2], g_argument[3]);
    else if (set || g_argumentCount > 1)
        status = EXIT_USAGE;
    if (status == EXIT_USAGE)
        err_text(USAGE);
    if (status != EXIT_OK)
        return status;
    if (g_argumentCount == 1 && is_switch(g_fileName, '?')) {
        out_text(USAGE);
        return finish(EXIT_OK);
    }
    bool header_only = g_argumentCount == 1 && is_switch(g_fileName, 'h');
    if (header_only || set)
        g_fileName[0] = '\0';

    // The file first: a missing one is told without any port access.
    if (g_fileName[0]) {
        file_handle probe = file_open_read(g_fileName);
        if (!probe)
            return cannot_read();
        file_close(probe);
    }

    if (!cfg_mechanism1_present()) {
        err_text("kvtlpeek: this PC has no PCI configuration mechanism #1 (ports CF8 and CFC): "
                 "nothing can be read.\r\n");
        return EXIT_NO_MECHANISM;
    }
    if (!mechanism1_reaches_functions()) {
        err_text("kvtlpeek: ports CF8 and CFC take an address, but no host bridge, display "
                 "adapter or Intel or Compaq device answers on bus 0: what they read cannot be "
                 "trusted.\r\n");
        return EXIT_NO_MECHANISM;
    }

    if (set)
        return finish(set_line());
    bool read = true;
    if (!g_fileName[0])
        dump_machine(header_only);
    else
        read = preview_settings(g_fileName); // false: gone since the check above
    return finish(read ? EXIT_OK : cannot_read());
}

extern "C" void kvtlpeek_entry()
{
    SetUnhandledExceptionFilter(PortFaultProc);
    ExitProcess(static_cast<UINT>(peek_main()));
}
