// kvtlcheck --diff: the library's diff over two dump files.
#include "check.h"

#include <algorithm>

#include "pci_diff.h"

namespace kvtlcheck
{

bool read_dump(const std::string &text, std::vector<PciDumpFunction> *out, std::string *error)
{
    size_t lines = 1;
    for (char c : text)
        lines += c == '\n' || c == '\r';
    out->resize(std::min<size_t>(lines, 256 * 256));
    PciDumpError e;
    int n = pci_dump_read(text.data(), static_cast<unsigned>(text.size()), out->data(),
                          static_cast<int>(out->size()), &e);
    if (n < 0) {
        *error = e.line ? "line " + std::to_string(e.line) + ": " + e.what : e.what;
        return false;
    }
    out->resize(static_cast<size_t>(n));
    return true;
}

namespace
{

struct Both {
    std::string out, err;
};

void OutProc(const char *text, void *context)
{
    static_cast<Both *>(context)->out += text;
}

void ErrProc(const char *text, void *context)
{
    static_cast<Both *>(context)->err += text;
}

} // namespace

int diff_dumps(const std::vector<PciDumpFunction> &before,
               const std::vector<PciDumpFunction> &after, std::string *settings, std::string *table)
{
    Both both;
    int lines = pci_diff_print(before.data(), static_cast<int>(before.size()), after.data(),
                               static_cast<int>(after.size()), OutProc, ErrProc, &both);
    *settings = both.out;
    *table = both.err;
    return lines;
}

} // namespace kvtlcheck
