#include "file_io.h"

#include <windows.h>

file_handle file_open_read(const char *name)
{
    // Nobody may write the file while it is read: an editor that saves it
    // meanwhile would tear the line being read.
    HANDLE h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? nullptr : h;
}

int file_read(file_handle file, void *buf, unsigned size)
{
    DWORD n = 0;
    if (!ReadFile(file, buf, size, &n, nullptr))
        return -1;
    return static_cast<int>(n);
}

void file_close(file_handle file)
{
    CloseHandle(file);
}
