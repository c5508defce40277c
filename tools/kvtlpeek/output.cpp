// Standard output through one buffer: a console or a redirected file takes
// few large writes better than many small ones.
#include <cstdarg>

#include "kvtlpeek.h"

static char g_outBuffer[4096];
static int g_outLength;
static bool g_outFailed; // once a write failed, the rest is not written
static HANDLE g_outFile; // null: standard output

static bool write_handle(HANDLE file, const char *text, int length)
{
    DWORD written = 0;
    return WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr) &&
           written == static_cast<DWORD>(length);
}

void out_flush()
{
    if (g_outLength > 0 && !g_outFailed)
        g_outFailed = !write_handle(g_outFile ? g_outFile : GetStdHandle(STD_OUTPUT_HANDLE),
                                    g_outBuffer, g_outLength);
    g_outLength = 0;
}

bool out_complete()
{
    return !g_outFailed;
}

void out_to(HANDLE file)
{
    g_outFile = file;
}

bool out_close(const char *name)
{
    out_flush();
    bool whole = CloseHandle(g_outFile) && !g_outFailed;
    g_outFile = nullptr;
    g_outFailed = false; // told here, by the caller: standard output has lost nothing
    if (!whole)
        DeleteFileA(name);
    return whole;
}

int out_text(const char *text)
{
    int n = 0;
    for (; text[n]; n++) {
        if (g_outLength == sizeof g_outBuffer)
            out_flush();
        g_outBuffer[g_outLength++] = text[n];
    }
    return n;
}

void out_format(const char *format, ...)
{
    char text[1024]; // wvsprintf writes at most 1024 bytes
    va_list args;
    va_start(args, format);
    wvsprintfA(text, format, args);
    va_end(args);
    out_text(text);
}

int output_lost(const char *what)
{
    char text[MAX_PATH + 64];
    wsprintfA(text, "kvtlpeek: %s could not be written whole (is the disk full?)\r\n", what);
    err_text(text);
    return 5;
}

static int length_of(const char *text)
{
    int length = 0;
    while (text[length])
        length++;
    return length;
}

bool file_text(HANDLE file, const char *text)
{
    return write_handle(file, text, length_of(text));
}

int err_text(const char *text)
{
    int length = length_of(text);
    write_handle(GetStdHandle(STD_ERROR_HANDLE), text, length);
    return length;
}
