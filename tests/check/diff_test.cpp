// kvtlcheck --diff: every reason a change is left out, and the round trip on
// the virtual machine: the settings it prints, applied to BEFORE, leave
// AFTER's byte at every line.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "check.h"
#include "memory_files.h"
#include "pci_diff.h"

namespace
{

// A machine as kvtlpeek dumps it: every byte, or (count 64) the header.
std::string dump_of(const sim::Chipset &m, unsigned count = 256)
{
    std::string s;
    for (const auto &f : m.functions()) {
        char block[PCI_DUMP_BLOCK_MAX];
        s.append(block,
                 static_cast<size_t>(pci_dump_write(block, f.first.bus, f.first.dev, f.first.fn,
                                                    f.second.bytes.data(), count)));
    }
    return s;
}

sim::Chipset without(const sim::Chipset &m, const sim::Bdf &gone)
{
    sim::Chipset out;
    for (const auto &f : m.functions())
        if (!(f.first == gone))
            out.add_function(f.first, f.second.bytes, f.second.name);
    return out;
}

struct DiffCase {
    const char *name;
    std::function<void(sim::Chipset &)> change; // BEFORE into AFTER
    const char *rows;                           // the table, without its summary
    const char *settings;
    unsigned after_count = 256;
    const char *warnings = ""; // after the summary
    unsigned char kept = 0;    // owned bits the line leaves as BEFORE has them
};

const DiffCase cases[] = {
    {"a chipset register",
     [](sim::Chipset &m) {
         m.poke({0, 0, 0}, 0x5C, 0x33);
     },
     "00:00.0 5c  PAM3  00 -> 33  written\r\n", "5C,33,0,0\r\n"},
    {"a chipset register of the IDE function",
     [](sim::Chipset &m) {
         m.poke({0, 7, 1}, 0x48, 0x07);
     },
     "00:07.1 48  UDMACTL  05 -> 07  written\r\n", "48,07,7,1\r\n"},
    {"a chip without a table",
     [](sim::Chipset &m) {
         m.poke({0, 0x0B, 0}, 0x40, 0x01);
     },
     "00:0b.0 40  device-specific  00 -> 01  written\r\n", "40,01,B,0\r\n"},
    {"read-only",
     [](sim::Chipset &m) {
         m.poke({0, 7, 1}, 0x08, 0x02);
     },
     "00:07.1 08  REVISION  01 -> 02  left out: read-only\r\n", ""},
    {"status",
     [](sim::Chipset &m) {
         m.poke({0, 0, 0}, 0x07, 0x02);
     },
     "00:00.0 07  STATUS  22 -> 02  left out: write-1-to-clear: a line clears such bits, "
     "never sets them\r\n",
     ""},
    {"a bridge's secondary status",
     [](sim::Chipset &m) {
         m.poke({0, 1, 0}, 0x1F, 0x20);
     },
     "00:01.0 1f  SEC_STATUS  00 -> 20  left out: write-1-to-clear: a line clears such bits, "
     "never sets them\r\n",
     ""},
    {"a chipset's error status (440BX ERRSTS)",
     [](sim::Chipset &m) {
         m.poke({0, 0, 0}, 0x92, 0x01);
     },
     "00:00.0 92  ERRSTS  00 -> 01  left out: write-1-to-clear: a line clears such bits, "
     "never sets them\r\n",
     ""},
    {"the interrupt line",
     [](sim::Chipset &m) {
         m.poke({0, 0x0B, 0}, 0x3C, 0x05);
     },
     "00:0b.0 3c  INTERRUPT_LINE  0a -> 05  left out: the BIOS or Windows set it at run time "
     "(interrupt line)\r\n",
     ""},
    {"IRQ routing (PIIX4 PIRQRCA)",
     [](sim::Chipset &m) {
         m.poke({0, 7, 0}, 0x60, 0x0A);
     },
     "00:07.0 60  PIRQRCA  00 -> 0a  left out: the BIOS or Windows set it at run time "
     "(PIRQA# IRQ)\r\n",
     ""},
    {"decode and bus-master bits alone",
     [](sim::Chipset &m) {
         m.poke({0, 7, 1}, 0x04, 0x01);
     },
     "00:07.1 04  COMMAND  05 -> 01  left out: the BIOS or Windows set it at run time (bus "
     "master enable)\r\n",
     ""},
    {"the command register's other bits: written, decode and bus master kept",
     [](sim::Chipset &m) {
         m.poke({0, 7, 1}, 0x04, 0x40);
     },
     "00:07.1 04  COMMAND  05 -> 40  written, keeping BEFORE's I/O space enable (the BIOS or "
     "Windows set it), keeping BEFORE's bus master enable (the BIOS or Windows set it)\r\n",
     "04,45,7,1\r\n", 256, "", 0x05},
    {"a bit that can hang the PC is written with a warning",
     [](sim::Chipset &m) {
         m.poke({0, 0, 0}, 0x59, 0x10);
     },
     "00:00.0 59  PAM0  00 -> 10  written\r\n"
     "  warning: PAM0 bit 4 (F0000-FFFFF read enable) 0->1: can hang a running PC: reads at "
     "F0000, where Windows calls the BIOS, switch between its RAM copy and the ROM\r\n",
     "59,10,0,0\r\n"},
    {"a BAR",
     [](sim::Chipset &m) {
         m.poke({0, 0x0B, 0}, 0x11, 0xE8);
     },
     "00:0b.0 11  BASE_ADDRESS_0  e4 -> e8  left out: a BAR, window or bus number the BIOS "
     "assigns\r\n",
     ""},
    {"a bus number",
     [](sim::Chipset &m) {
         m.poke({0, 0x0C, 0}, 0x1A, 0x03);
     },
     "00:0c.0 1a  SUBORDINATE_BUS  02 -> 03  left out: a BAR, window or bus number the BIOS "
     "assigns\r\n",
     ""},
    {"not on bus 0",
     [](sim::Chipset &m) {
         m.poke({1, 0, 0}, 0x40, 0x22);
     },
     "01:00.0 40  device-specific  21 -> 22  left out: behind a bridge, on a bus the BIOS "
     "numbers at each start (a line reaches it only through a device field of bus x 20 + "
     "device)\r\n",
     ""},
    {"a function gone",
     [](sim::Chipset &m) {
         m = without(m, {0, 7, 1});
     },
     "00:07.1 --  only before: left out: a function in one dump only\r\n", ""},
    {"a function new",
     [](sim::Chipset &m) {
         m.add_function({0, 7, 2}, m.function({0, 7, 1})->bytes);
     },
     "00:07.2 --  only after: left out: a function in one dump only\r\n", ""},
    {"a header-only AFTER: the rest unknown, no change, and a warning",
     [](sim::Chipset &m) {
         m.poke({0, 0, 0}, 0x5C, 0x33);
     },
     "", "", 64,
     "warning: one dump shows only the 64-byte headers (kvtlpeek /h): bytes from 40 up were "
     "not compared\r\n"},
};

int lines_of(const std::string &s)
{
    return static_cast<int>(std::count(s.begin(), s.end(), '\n'));
}

TEST(KvtlcheckDiff, EachChangeWrittenOrLeftOutForItsReasonAndTheFileRecreatesAfter)
{
    for (const DiffCase &c : cases) {
        SCOPED_TRACE(c.name);
        const sim::Chipset before = sim::default_machine();
        sim::Chipset after = before;
        c.change(after);
        std::vector<PciDumpFunction> dumps[2];
        std::string error, settings, table;
        ASSERT_TRUE(sim::read_lspci(dump_of(before), &dumps[0], &error)) << error;
        ASSERT_TRUE(sim::read_lspci(dump_of(after, c.after_count), &dumps[1], &error)) << error;
        int lines = kvtlcheck::diff_dumps(dumps[0], dumps[1], &settings, &table);
        // One row per change; a warning line under a row is none.
        const int written = lines_of(c.settings),
                  rows =
                      lines_of(c.rows) -
                      lines_of(std::string(c.rows).find("  warning:") == std::string::npos ? ""
                                                                                           : "\n");
        EXPECT_EQ(table, c.rows + std::to_string(rows) + (rows == 1 ? " change, " : " changes, ") +
                             std::to_string(written) +
                             (written == 1 ? " settings line\r\n" : " settings lines\r\n") +
                             c.warnings);
        EXPECT_EQ(settings, c.settings);
        EXPECT_EQ(lines, written);

        // The round trip: BEFORE's dump as the machine, the file applied.
        sim::Chipset machine;
        ASSERT_TRUE(machine.load_lspci(dump_of(before), &error)) << error;
        memfs::reset();
        memfs::put("kvtl.cfg", settings);
        kvtlcheck::Report report;
        ASSERT_TRUE(kvtlcheck::check_file("kvtl.cfg", machine, &report, &error)) << error;
        ASSERT_EQ(static_cast<int>(report.applied.size()), written);
        for (const kvtlcheck::Applied &a : report.applied) {
            const unsigned char kept = c.kept & before.peek(a.reaches, a.offset);
            EXPECT_EQ(a.after, (after.peek(a.reaches, a.offset) & ~c.kept) | kept)
                << sim::format(a.reaches);
        }
    }
}

TEST(KvtlcheckDiff, MoreThanSixtyFourLinesWarn)
{
    const sim::Chipset before = sim::default_machine();
    sim::Chipset after = before;
    for (unsigned reg = 0x80; reg < 0xC1; reg++)
        after.poke({0, 7, 0}, reg, 0x5A);
    std::vector<PciDumpFunction> dumps[2];
    std::string error, settings, table;
    ASSERT_TRUE(sim::read_lspci(dump_of(before), &dumps[0], &error));
    ASSERT_TRUE(sim::read_lspci(dump_of(after), &dumps[1], &error));
    EXPECT_EQ(kvtlcheck::diff_dumps(dumps[0], dumps[1], &settings, &table), 65);
    EXPECT_NE(table.find("65 changes, 65 settings lines\r\nwarning: Sorvenka applies the first 64 "
                         "lines"),
              std::string::npos)
        << table;
}

} // namespace

namespace
{

// A byte a header-only dump does not show is unknown in every form of the
// report, never 00 or FF.
TEST(KvtlcheckMachine, BytesNotInTheDumpAreUnknown)
{
    sim::Chipset machine;
    std::string error;
    ASSERT_TRUE(machine.load_lspci(dump_of(sim::default_machine(), 64), &error)) << error;
    memfs::reset();
    memfs::put("kvtl.cfg", "0D,20\n50,0C\n");
    kvtlcheck::Report report;
    ASSERT_TRUE(kvtlcheck::check_file("kvtl.cfg", machine, &report, &error)) << error;
    ASSERT_EQ(report.applied.size(), 2u);
    EXPECT_TRUE(report.applied[0].known);
    EXPECT_FALSE(report.applied[1].known);
    EXPECT_EQ(report.warning_count(), 0);
    const std::string json = kvtlcheck::render_json(report);
    EXPECT_NE(json.find("\"before\": 0, \"written\": 32, \"after\": 32,"), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"before\": null, \"written\": 12, \"after\": null, \"note\": "
                        "\"Host bridge configuration\", \"changed_bits\": null"),
              std::string::npos)
        << json;
    EXPECT_NE(kvtlcheck::render_table(report, "kvtl.cfg", false).find("  ??      0C     ??"),
              std::string::npos);
}

} // namespace
