// kvtlpeek /d BEFORE AFTER [TABLE [FILE]]: the settings file that turns one
// dump into the other, by the same library and rules as kvtlcheck --diff.
// Only files are read: no port is touched.
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

static bool g_tableLost; // a write to the table file failed

// The table to standard error, or to the file /d was given (its handle).
static void TableProc(const char *text, void *file)
{
    if (!file)
        err_text(text);
    else if (!file_text(file, text))
        g_tableLost = true;
}

static HANDLE create_file(const char *name)
{
    return CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

int diff_dumps(const char *before, const char *after, const char *table, const char *settings)
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
    // The files are made only now, so that a name of one of the dumps cannot
    // empty it before it is read. Settings for a FILE that cannot be made
    // go nowhere else.
    if (*settings) {
        HANDLE out = create_file(settings);
        if (out == INVALID_HANDLE_VALUE)
            return output_lost(settings);
        out_to(out);
    }
    HANDLE file = nullptr;
    if (*table) {
        file = create_file(table);
        g_tableLost = file == INVALID_HANDLE_VALUE;
    }
    int lines = pci_diff_print(g_dump[0], counts[0], g_dump[1], counts[1], OutProc, TableProc,
                               g_tableLost ? nullptr : file);
    if (file && !g_tableLost)
        g_tableLost = !CloseHandle(file);
    int status = lines > PCI_SETTINGS_MAX ? 1 : 0;
    if (*settings && !out_close(settings))
        status = output_lost(settings);
    // A table not written whole is output lost, as on a full disk (status 5),
    // not a wrong argument (2): the dumps were right and the settings are
    // out. Where the file could not be made, the table went to standard
    // error instead.
    if (g_tableLost)
        status = output_lost(table);
    return status;
}
