// kvtlpeek /d BEFORE AFTER: the settings file that turns one dump into the
// other, by the same library and rules as kvtlcheck --diff. Only files are
// read: no port is touched.
#include "file_io.h"
#include "kvtlpeek.h"
#include "pci_diff.h"

static const unsigned DUMP_MAX = 64 * 1024; // a dump of one PC is far smaller
static const int FUNCTIONS_MAX = 128;

static char g_dumpText[2][DUMP_MAX];
static PciDumpFunction g_dump[2][FUNCTIONS_MAX];

// The whole file into `text`; -1 when it cannot be read or is too large.
static int read_whole(const char *name, char *text)
{
    file_handle f = file_open_read(name);
    if (!f)
        return -1;
    unsigned length = 0;
    int n;
    while ((n = file_read(f, text + length, DUMP_MAX - length)) > 0)
        length += static_cast<unsigned>(n);
    file_close(f);
    return n < 0 || length == DUMP_MAX ? -1 : static_cast<int>(length);
}

static void OutProc(const char *text, void *)
{
    out_text(text);
}

static void ErrProc(const char *text, void *)
{
    err_text(text);
}

int diff_dumps(const char *before, const char *after)
{
    const char *names[2] = {before, after};
    int counts[2];
    for (int i = 0; i < 2; i++) {
        char message[MAX_PATH + 256];
        int length = read_whole(names[i], g_dumpText[i]);
        if (length < 0) {
            wsprintfA(message, "kvtlpeek: cannot read %s (or larger than 64 KiB)\r\n", names[i]);
            err_text(message);
            return 2;
        }
        PciDumpError e;
        counts[i] = pci_dump_read(g_dumpText[i], static_cast<unsigned>(length), g_dump[i],
                                  FUNCTIONS_MAX, &e);
        if (counts[i] < 0) {
            if (e.line)
                wsprintfA(message, "kvtlpeek: %s: line %d: %s\r\n", names[i], e.line, e.what);
            else
                wsprintfA(message, "kvtlpeek: %s: %s\r\n", names[i], e.what);
            err_text(message);
            return 2;
        }
    }
    int lines =
        pci_diff_print(g_dump[0], counts[0], g_dump[1], counts[1], OutProc, ErrProc, nullptr);
    return lines > PCI_SETTINGS_MAX ? 1 : 0;
}
