// kvtlpeek FILE: the preview of what the settings file would do, against
// kvtlcheck's report of the same file on the same machine.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "check.h"
#include "kvtlpeek_e2e.h"
#include "pci_access.h"
#include "pci_header.h"
#include "settings_files.h"

namespace
{

using namespace kvtlpeek_e2e;

// The preview kvtlcheck's report of the same file and machine makes, but
// for the lines under the rows: each applied line's byte before and written,
// then the engine's restore, each line's byte before, newest first. The line
// column as wide as its widest numbers.
std::string expected_preview(const kvtlcheck::Report &report)
{
    std::vector<std::string> lines;
    size_t width = 4;
    for (const kvtlcheck::Applied &a : report.applied) {
        lines.push_back(std::to_string(a.line));
        if (a.last_line != a.line)
            lines.back() += "-" + std::to_string(a.last_line);
        width = std::max(width, lines.back().size());
    }
    auto column = [&](const std::string &text) {
        return text + std::string(width + 2 - text.size(), ' ');
    };
    std::string s = "What kvtl.cfg would do on this PC (nothing is written):\r\n\r\n";
    if (report.applied.empty())
        s += "Nothing: it has no settings line.\r\n";
    else
        s += column("line") + "reaches  reg  now  new  name\r\n";
    for (size_t i = 0; i < report.applied.size(); i++) {
        const kvtlcheck::Applied &a = report.applied[i];
        s += column(lines[i]) + sim::format(a.reaches) + "  " + hex2(a.offset) + "   " +
             hex2(a.before) + "   " + hex2(a.written) + "   " + (a.present ? a.reg_name : "-") +
             "\r\n";
        if (!a.capability.empty())
            s += column("") + "capability: " + a.capability + "\r\n";
    }
    if (!report.applied.empty())
        s += "\r\nExit would put these bytes back, last line first:\r\n" + column("line") +
             "reaches  reg  byte\r\n";
    for (size_t i = report.applied.size(); i-- > 0;) {
        const kvtlcheck::Applied &a = report.applied[i];
        s += column(lines[i]) + sim::format(a.reaches) + "  " + hex2(a.offset) + "   " +
             hex2(a.before) + (a.present ? "" : "  (nothing answers there)") + "\r\n";
    }
    return s + "\r\nFor the other warnings (the file's format, spills, read-only bits), run\r\n"
               "\"kvtlpeek > machine.txt\" here and \"kvtlcheck --machine machine.txt "
               "kvtl.cfg\"\r\non any other computer.\r\n";
}

// The text without the lines under the rows (the bits a line changes and
// its warnings), which kvtlcheck words with more bit names than the Windows
// 9x tool carries and, for the command register's enables, otherwise; but
// for the capability a byte lies in, which both name alike.
std::string without_lines_under_rows(const std::string &preview)
{
    std::istringstream in(preview);
    std::string kept;
    for (std::string line; std::getline(in, line);)
        if (line[0] != ' ' || line.find_first_not_of(' ') == line.find("capability: "))
            kept += line + "\n";
    return kept;
}

// Random files over the machine's registers, spills, absent functions, odd
// fields and every line end; reproducible from the seed.
std::string random_file(std::mt19937 &rng)
{
    auto pick = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
    static const unsigned devices[] = {0, 1, 7, 7, 0x0B, 0x0C, 5, 0x20, 0x21, 0x42};
    static const char *const ends[] = {"\n", "\r\n", "\r", "\n\n"};
    std::string s;
    std::vector<std::array<unsigned, 3>> earlier; // register, device, function
    int lines = 1 + static_cast<int>(pick(20));
    for (int i = 0; i < lines; i++) {
        char line[64];
        unsigned kind = pick(12);
        if (kind == 3) {
            s += pick(2) ? "; remark" : ",,";
        } else {
            std::array<unsigned, 3> at;
            if (kind <= 2 && !earlier.empty()) { // a register named again
                at = earlier[pick(static_cast<unsigned>(earlier.size()))];
            } else {
                unsigned dev = devices[pick(sizeof devices / sizeof devices[0])];
                at = {pick(10) == 0 ? 0x100 + pick(0x800) : pick(256), dev,
                      dev == 0x0B     ? 0
                      : pick(10) == 0 ? 8 + pick(16)
                                      : pick(3)};
            }
            std::snprintf(line, sizeof line, pick(2) ? "%X,%X,%X,%X" : "%x,%x,%x,%x", at[0],
                          pick(8) == 0 ? 0x100 + pick(0x100) : pick(256), at[1], at[2]);
            s += line;
            earlier.push_back(at);
        }
        s += ends[pick(4)];
    }
    return s;
}

// A byte with read-only bits of the chipset's own, written and then read by a
// later line, is the one thing the preview cannot know without writing; so is
// a part that mirrors its function 0 under another function number, and a
// bridge's bus numbers, which move what later lines reach.
bool preview_can_know(const kvtlcheck::Report &report, const sim::Chipset &m)
{
    std::map<std::uint32_t, bool> took; // decoded address -> the write stuck
    for (const kvtlcheck::Applied &a : report.applied) {
        std::uint32_t key = (a.address & 0x80FFFFFC) | (a.port & 3);
        auto it = took.find(key);
        if (it != took.end() && !it->second)
            return false;
        if (a.reaches.dev == 0x0B && a.reaches.bus == 0 && a.reaches.fn != 0)
            return false;
        const unsigned type = m.peek(a.reaches, PCI_HEADER_TYPE) & 0x7F;
        if (a.present && (type == 1 || type == 2) && (a.offset == 0x19 || a.offset == 0x1A))
            return false;
        std::uint8_t id[16];
        for (unsigned i = 0; i < 16; i++)
            id[i] = m.peek(a.reaches, i);
        took[key] = !a.present || a.after == pci_after_write(id, a.offset, a.before, a.written);
    }
    return true;
}

struct PreviewFile {
    std::string name, content;
};

std::vector<PreviewFile> preview_files()
{
    std::vector<PreviewFile> out;
    const std::string examples = EXAMPLES_DIR;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(harness::windows_path(examples + "/*.cfg").c_str(), &found);
    EXPECT_NE(search, INVALID_HANDLE_VALUE) << "no sample in " << examples;
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        out.push_back({found.cFileName, e2e::read_file(examples + "/" + found.cFileName)});
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    EXPECT_GE(out.size(), 3u);
    // A later line sees what the earlier one would have left, at the same
    // register reached by another spelling too; not where nothing answers.
    out.push_back({"shadow", "4A,22,7,1\n4a,33,7,1\n14A,44,7\n50,0C,7,2\n50,0D,7,2\n"});
    out.push_back({"a part that answers on every function number", "3C,05,B,3\n"});
    // Written twice where a write changes nothing: blank and remark lines
    // (register 0), status, interrupt pin, and subsystem IDs, which only a
    // bridge (header type 1) holds writable bytes in place of.
    out.push_back({"read-only bytes named twice",
                   "\n; remark\n,,\n6,FF\n6,0\n3D,5\n3D,6\n2C,1,B\n2C,2,B\n2C,1,C\n2C,2,C\n"});
    // The checker's files (tests/support), but for the 64-line limit, which
    // is the engine's and is checked with it and through sorvenka.exe.
    for (const auto *list : {&files::sharp_edges(), &files::line_edges()})
        for (const files::Named &f : *list)
            if (f.name != "64 lines" && f.name != "65th line")
                out.push_back({f.name, f.content});
    return out;
}

kvtlcheck::Report kvtlcheck_report(const std::string &content, const sim::Chipset &machine)
{
    std::string path = e2e::work_dir("kvtlpeek_kvtlcheck", &content) + "/kvtl.cfg";
    kvtlcheck::Report report;
    std::string error;
    EXPECT_TRUE(kvtlcheck::check_file(harness::windows_path(path), machine, &report, &error))
        << error;
    return report;
}

void expect_preview_as_kvtlcheck(const PreviewFile &f, const sim::Chipset &machine)
{
    SCOPED_TRACE(f.name + ": " + kvtlcheck::escape(f.content.substr(0, 120)));
    PeekRun r = peek("preview", "kvtl.cfg", machine, f.content);
    EXPECT_EQ(r.code, 0u);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(without_lines_under_rows(r.out),
              expected_preview(kvtlcheck_report(f.content, machine)));
    EXPECT_TRUE(read_only(r.trace));
}

TEST(KvtlpeekPreview, SamplesAndSharpEdgesGiveKvtlchecksBytes)
{
    const sim::Chipset machine = sim::default_machine();
    for (const PreviewFile &f : preview_files())
        expect_preview_as_kvtlcheck(f, machine);
}

// Status clears where a 1 is written, in every header type; the capability
// pointer is read-only at 0x34 in types 0 and 1 and at 0x14 in a CardBus
// bridge, whose 0x34 is an I/O window.
TEST(KvtlpeekPreview, StatusClearsAndTheCapabilityPointerByHeaderType)
{
    sim::Chipset machine = sim::default_machine();
    machine.add_function({0, 0x0D, 0}, space(0x104C, 0xAC1A, 0x02, 5));
    machine.poke({0, 0x0D, 0}, 0x07, 0x92);
    machine.poke({0, 0x0D, 0}, 0x34, 0x40);
    machine.poke({0, 0x0D, 0}, 0x14, 0x80);
    expect_preview_as_kvtlcheck({"CardBus bridge",
                                 "7,12,D\n7,FF,D\n34,5,D\n34,6,D\n14,5,D\n14,6,D\n"
                                 "34,5,1\n34,6,1\n6,FF\n6,0\n"},
                                machine);
}

// The whole preview, each value under its heading whatever the width of the
// line numbers; under a row the bits the line changes and a warning for each
// field that the BIOS or Windows own or that can hang the PC (Intel 290562:
// IDETIM bit 15 decodes the channel, PIRQRCA bits 3-0 route PIRQA#), nothing
// under a line to nowhere; the capability structure a byte lies in (the
// network card's power management at DC, whose +4 lspci -vv shows as
// "Status:").
TEST(KvtlpeekPreview, ShowsEachValueUnderItsHeading)
{
    const std::string footer =
        "\r\nFor the other warnings (the file's format, spills, read-only bits), run\r\n"
        "\"kvtlpeek > machine.txt\" here and \"kvtlcheck --machine machine.txt kvtl.cfg\"\r\n"
        "on any other computer.\r\n";
    std::string nul_lines;
    for (int i = 7; i <= 99; i++)
        nul_lines += std::string("\0\n", 2);
    const struct {
        std::string file, text;
    } cases[] = {
        // Lines 7-99 start with a NUL, which skips them; lone CRs join lines.
        {"41,5A,7,1\n41,5A,A,1\n60,0A,7\n4A,22,7,1\r\r\r\n" + nul_lines + "D,20,7,1" +
             std::string(154, '\r') + "\n",
         "What kvtl.cfg would do on this PC (nothing is written):\r\n"
         "\r\n"
         "line     reaches  reg  now  new  name\r\n"
         "1        00:07.1  41   a3   5a   IDETIM\r\n"
         "         changes bit 0 1->0, bit 4 0->1, bit 5 1->0, bit 6 0->1, bit 7 IDE decode "
         "enable 1->0\r\n"
         "         warning: IDETIM bit 7 (IDE decode enable) 1->0: can hang a running PC: the "
         "channel's ports stop answering: its disks, the boot disk among them, vanish\r\n"
         "2        00:0a.1  41   ff   5a   -\r\n"
         "3        00:07.0  60   00   0a   PIRQRCA\r\n"
         "         changes bit 1 PIRQA# IRQ 0->1, bit 3 PIRQA# IRQ 0->1\r\n"
         "         warning: PIRQRCA bits 3-0 (PIRQA# IRQ) 00->0A: can hang a running PC: "
         "Windows' IRQ steering set it: the devices on that line lose their interrupt\r\n"
         "4-6      00:07.1  4a   02   22   UDMATIM\r\n"
         "         changes bit 5 0->1\r\n"
         "100-253  00:07.1  0d   40   20   LATENCY_TIMER\r\n"
         "         changes bit 5 0->1, bit 6 1->0\r\n"
         "\r\n"
         "Exit would put these bytes back, last line first:\r\n"
         "line     reaches  reg  byte\r\n"
         "100-253  00:07.1  0d   40\r\n"
         "4-6      00:07.1  4a   02\r\n"
         "3        00:07.0  60   00\r\n"
         "2        00:0a.1  41   ff  (nothing answers there)\r\n"
         "1        00:07.1  41   a3\r\n" +
             footer},
        {"1,2,3\n", "What kvtl.cfg would do on this PC (nothing is written):\r\n"
                    "\r\n"
                    "line  reaches  reg  now  new  name\r\n"
                    "1     00:03.0  01   ff   02   -\r\n"
                    "\r\n"
                    "Exit would put these bytes back, last line first:\r\n"
                    "line  reaches  reg  byte\r\n"
                    "1     00:03.0  01   ff  (nothing answers there)\r\n" +
                        footer},
        {"E0,03,44\n", "What kvtl.cfg would do on this PC (nothing is written):\r\n"
                       "\r\n"
                       "line  reaches  reg  now  new  name\r\n"
                       "1     02:04.0  e0   00   03   device-specific\r\n"
                       "      capability: Power Management Status (cap 01 at DC)+4\r\n"
                       "      changes bit 0 0->1, bit 1 0->1\r\n"
                       "\r\n"
                       "Exit would put these bytes back, last line first:\r\n"
                       "line  reaches  reg  byte\r\n"
                       "1     02:04.0  e0   00\r\n" +
                           footer},
        {std::string("\0\n", 2), "What kvtl.cfg would do on this PC (nothing is written):\r\n"
                                 "\r\n"
                                 "Nothing: it has no settings line.\r\n" +
                                     footer},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(kvtlcheck::escape(c.file.substr(0, 40)));
        PeekRun r = peek("layout", "kvtl.cfg", sim::default_machine(), c.file);
        EXPECT_EQ(r.code, 0u);
        EXPECT_EQ(r.out, c.text);
        EXPECT_TRUE(read_only(r.trace));
    }
}

TEST(KvtlpeekPreview, RandomFilesGiveKvtlchecksBytes)
{
    const sim::Chipset machine = sim::default_machine();
    const unsigned seed = 20261208;
    std::mt19937 rng(seed);
    int done = 0, set_aside = 0;
    while (done < 25) {
        std::string content = random_file(rng);
        if (!preview_can_know(kvtlcheck_report(content, machine), machine)) {
            set_aside++;
            continue;
        }
        expect_preview_as_kvtlcheck(
            {"random file " + std::to_string(done) + " of seed " + std::to_string(seed), content},
            machine);
        done++;
    }
    std::printf("[ figures  ] %d random files compared, %d set aside\n", done, set_aside);
}

} // namespace
