// kvtlcheck --diff: the library's diff over two dump files.
#include "check.h"

#include "pci_diff.h"

namespace kvtlcheck
{

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
