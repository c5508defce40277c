#include "memory_files.h"

#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "file_io.h"

namespace
{

struct OpenFile {
    std::string content;
    size_t pos = 0;
};

std::map<std::string, std::string> files;
std::set<int> failing;
unsigned chunk = 0;
int calls = 0;
int open_count = 0;

} // namespace

namespace memfs
{

void reset()
{
    files.clear();
    failing.clear();
    chunk = 0;
    calls = 0;
    open_count = 0;
}

void put(const std::string &name, const std::string &content)
{
    files[name] = content;
}
void set_chunk(unsigned bytes)
{
    chunk = bytes;
}
void fail_read(int call)
{
    failing.insert(call);
}
int read_calls()
{
    return calls;
}
int open_files()
{
    return open_count;
}

} // namespace memfs

file_handle file_open_read(const char *name)
{
    auto f = files.find(name);
    if (f == files.end())
        return nullptr;
    open_count++;
    return new OpenFile{f->second, 0};
}

int file_read(file_handle file, void *buf, unsigned size)
{
    auto *f = static_cast<OpenFile *>(file);
    if (failing.count(++calls))
        return -1;
    size_t n = std::min<size_t>(size, f->content.size() - f->pos);
    if (chunk)
        n = std::min<size_t>(n, chunk);
    std::memcpy(buf, f->content.data() + f->pos, n);
    f->pos += n;
    return static_cast<int>(n);
}

void file_close(file_handle file)
{
    open_count--;
    delete static_cast<OpenFile *>(file);
}
