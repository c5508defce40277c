#include "file_io.h"

#include <cstdio>

file_handle file_open_read(const char *name)
{
    return std::fopen(name, "rb");
}

int file_read(file_handle file, void *buf, unsigned size)
{
    FILE *f = static_cast<FILE *>(file);
    size_t n = std::fread(buf, 1, size, f);
    if (n == 0 && std::ferror(f)) {
        std::clearerr(f);
        return -1;
    }
    return static_cast<int>(n);
}

void file_close(file_handle file)
{
    std::fclose(static_cast<FILE *>(file));
}
