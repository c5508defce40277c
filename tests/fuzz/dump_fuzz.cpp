// libFuzzer target: the machine-dump reader on any bytes. It must not crash;
// a dump it refuses leaves the chipset empty and names a line the file has;
// a dump it takes holds reachable functions only and reads back the same
// when written out again as lspci would print it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "chipset.h"
#include "fuzz_check.h"

namespace
{

// Line ends as an editor counts them: LF, CR LF, a lone CR.
long count_lines(const std::string &text)
{
    long lines = 0;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\n' || text[i] == '\r') {
            lines++;
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                i++;
        }
    }
    bool open_last = !text.empty() && text.back() != '\n' && text.back() != '\r';
    return lines + (open_last ? 1 : 0);
}

// The machine as "lspci -xxx" prints it: every byte, 16 to a row.
std::string as_lspci(const sim::Chipset &c)
{
    std::string out;
    for (const auto &f : c.functions()) {
        out += sim::format(f.first) + (f.second.name.empty() ? "" : " " + f.second.name) + "\n";
        for (unsigned row = 0; row < 256; row += 16) {
            char text[8];
            std::snprintf(text, sizeof text, "%02x:", row);
            out += text;
            for (unsigned i = 0; i < 16; i++) {
                std::snprintf(text, sizeof text, " %02x", f.second.bytes[row + i]);
                out += text;
            }
            out += "\n";
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    sim::Chipset c;
    std::string error;
    if (!c.load_lspci(text, &error)) {
        check(c.functions().empty(), "a refused dump adds nothing");
        if (error.rfind("line ", 0) == 0) {
            long line = std::strtol(error.c_str() + 5, nullptr, 10);
            check(line >= 1 && line <= count_lines(text), "the message names a line of the file");
        } else {
            check(error == "the dump is empty" || error == "no device in the dump",
                  "a message without a line is about the whole file");
        }
        return 0;
    }
    check(!c.functions().empty(), "a dump taken has a function");
    for (const auto &f : c.functions()) {
        check(f.first.bus <= 0xFF && f.first.dev <= 0x1F && f.first.fn <= 7, "reachable slot");
        for (unsigned char ch : f.second.name)
            check(ch >= 0x20 && ch != 0x7F, "no control byte in a name");
    }
    sim::Chipset again;
    check(again.load_lspci(as_lspci(c), &error), "its own rendering reads back");
    check(again.functions().size() == c.functions().size(), "as many functions read back");
    for (const auto &f : c.functions()) {
        const auto &g = again.functions().at(f.first);
        check(g.bytes == f.second.bytes, "bytes read back");
        check(g.name == f.second.name, "name reads back");
    }
    return 0;
}
