#include "settings_files.h"

#include <cstdio>

namespace files
{

namespace
{

// 64 distinct writable registers that nobody else owns: PIIX4 ISA bridge
// 0x80..0xBF.
std::string sixty_four_lines()
{
    std::string s;
    for (int reg = 0x80; reg < 0xC0; reg++) {
        char line[16];
        std::snprintf(line, sizeof line, "%X,1,7\n", reg);
        s += line;
    }
    return s;
}

} // namespace

// Host bridge 0x50-0x56, ISA bridge 0x80-0xBF and IDE 0x50 take any byte on
// the default machine and nothing else owns them, so only the edge a file is
// named for stands out.
const std::vector<Named> &sharp_edges()
{
    static const std::vector<Named> files = {
        {"clean file", "50,0C\r\n51,0D\r\n4C,4D,7,0\n"},
        {"blank line", "50,0C\n\n"},
        {"comma-only line", ",,,\n"},
        {"remark line", "; tune\n"},
        {"remark with fields", ";5A,7\n"},
        {"blank register field", " ,5A\n"},
        {"space after a comma", "50, 0C\n"},
        {"0x prefix", "50,0x0C\n"},
        {"dollar prefix", "50,$0C\n"},
        {"space before the register", " 50,0C\n"},
        {"trailing comma is no field", "50,0C,\n"},
        {"more than eight digits", "50,10000000C\n"},
        {"leading zeros do not wrap", "50,00000000C\n"},
        {"value above FF", "50,10C\n"},
        {"device 20 reaches bus 1", "10,0,20\n"},
        {"function 8 reaches device 1", "50,0C,0,8\n"},
        {"register 150 reaches function 1", "150,0C,7\n"},
        {"absent function", "50,0C,7,2\n"},
        {"absent device", "50,0C,5\n"},
        {"read-only bits", "48,5A,7,1\n"},
        {"register named twice", "50,0C\n51,0D\n50,0E\n"},
        {"I/O decoding and bus mastering off", "4,0,7,1\n"},
        {"command bits set again", "4,5,7,1\n"},
        {"a bridge's bus numbers", "19,3,C\n1A,3,C\n"},
        {"a bus number as it is", "19,2,C\n"},
        {"IDE decode off: the boot disk's channel vanishes", "41,5A,7,1\n"},
        {"IRQ routing that Windows owns", "60,0A,7\n"},
        {"the interrupt line the BIOS set", "3C,05,B\n"},
        {"status bits cleared", "07,22\n"},
        {"named again through reserved address bits", "50,0C\n50,0D,2000\n"},
        {"64 lines", sixty_four_lines()},
        {"65th line", sixty_four_lines() + "50,0C\n51,0D\n"},
        {"0x1A ends the file", "50,0C\n\x1a\r\n51,0D\n"},
        {"0x1A at the end is harmless", "50,0C\r\n\x1a"},
        {"CR-only line ends", "50,0C,0,0\r51,0D,0,0\r"},
        {"CR CR LF merges nothing", "50,0C\r\r\n51,0D\n"},
        {"line over 253 bytes", "50,0C" + std::string(248, ' ') + "51,0D\n"},
        {"253 bytes leave the LF alone", "50,0C" + std::string(248, ' ') + "\n"},
        {"NUL inside a line", std::string("50,0C\0,7\n", 9)},
        {"NUL first: line skipped", std::string("\0"
                                                "50,0C\n51,0D\n",
                                                13)},
    };
    return files;
}

const std::vector<Named> &line_edges()
{
    static const std::vector<Named> files = {
        {"LF", "50,0C\n51,0D\n"},
        {"CR LF", "50,0C\r\n51,0D\r\n"},
        {"last line without its end", "50,0C\n51,0D"},
        {"skipped lines still count", std::string("\0\n\n50\n", 6)},
        {"lone CR ends a line", "50,0C,0,0\r51,0D\r\n52\n"},
        {"CR CR LF is two line ends", "50,0C\r\r\n51\n"},
        {"pieces of a long line share its number", "50\n" + std::string(300, '5') + "\n51\n"},
        {"CR-only file cut at 253 bytes", "50,0C\r" + std::string(247, '1') + "52,11\r53,22\r"},
        {"0x1A mid-line", "50\n51,0\x1a"
                          "D\n52\n"},
    };
    return files;
}

std::string content(const std::string &name)
{
    for (const auto *list : {&sharp_edges(), &line_edges()})
        for (const Named &f : *list)
            if (f.name == name)
                return f.content;
    return "";
}

} // namespace files
