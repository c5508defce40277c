// The tables run.sh and testkit/desktop.sh show: what the harness reads out of
// a port trace, and the text people see, byte for byte.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "report.h"
#include "trace.h"

namespace
{

sim::Target at(unsigned dev, unsigned fn, unsigned reg)
{
    return {true, {0, dev, fn}, reg};
}

report::AppliedLine line(unsigned dev, unsigned fn, unsigned reg, std::uint8_t wrote,
                         std::uint8_t before, std::uint8_t now)
{
    return {{at(dev, fn, reg), wrote, before}, now};
}

// Two settings passes and a restore: a register written twice, one in the
// upper byte lane, a write of the restore (no read before it) and a read of
// the journal that no write follows.
const Trace passes = mechanism_test() + applied_line(0x80003948, 0x03, 0x05) +
                     applied_line(0x8000394B, 0x1FF, 0x00) + applied_line(0x80003948, 0x07, 0x03) +
                     Trace{sim::out32(0xCF8, 0x80000040), sim::in8(0xCFC, 0x11)} +
                     restored(0x80003948, 0xCFC, 0x05) + restored(0x80003948, 0xCFF, 0x00);

TEST(Report, ReadsTheAppliedLinesAndTheWrittenRegistersFromTheTrace)
{
    auto writes = report::applied_writes(passes);
    struct Expected {
        unsigned reg;
        std::uint8_t wrote, before;
    } expected[] = {{0x48, 0x03, 0x05}, {0x4B, 0xFF, 0x00}, {0x48, 0x07, 0x03}};
    ASSERT_EQ(writes.size(), std::size(expected));
    for (std::size_t i = 0; i < writes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sim::format(writes[i].at.bdf), "00:07.1");
        EXPECT_EQ(writes[i].at.reg, expected[i].reg);
        EXPECT_EQ(writes[i].wrote, expected[i].wrote);
        EXPECT_EQ(writes[i].before, expected[i].before);
    }

    // Each register once, in order of its first write; the restore's
    // writes name no new one.
    auto regs = report::written_registers(passes);
    ASSERT_EQ(regs.size(), 2u);
    EXPECT_EQ(regs[0].reg, 0x48u);
    EXPECT_EQ(regs[1].reg, 0x4Bu);

    // A write while the address's enable bit is clear reaches no register.
    Trace disabled = {sim::out32(0xCF8, 0x00003948), sim::in8(0xCFC, 1), sim::out8(0xCFC, 2)};
    EXPECT_TRUE(report::applied_writes(disabled).empty());
    EXPECT_TRUE(report::written_registers(disabled).empty());
}

TEST(Report, AppliedTableNotesRewritesAndKeptBits)
{
    struct Case {
        const char *name;
        std::vector<report::AppliedLine> lines;
        const char *text;
    } cases[] = {
        {"none", {}, "Applied at start-up: 0 lines\n"},
        {"one",
         {line(7, 1, 0x48, 0x03, 0x05, 0x03)},
         "Applied at start-up: 1 line\n"
         "   #  register     wrote  before  after\n"
         "   1  00:07.1 48   03     05      03\n"},
        {"rewrite and read-only bits",
         {line(7, 1, 0x48, 0x03, 0x05, 0x07), line(0, 0, 0x5c, 0x33, 0x00, 0x30),
          line(7, 1, 0x48, 0x07, 0x03, 0x07)},
         "Applied at start-up: 3 lines\n"
         "   #  register     wrote  before  after\n"
         "   1  00:07.1 48   03     05      07  (#3 writes it again)\n"
         "   2  00:00.0 5c   33     00      30  (the chipset kept its bits: read-only, or no "
         "such function)\n"
         "   3  00:07.1 48   07     03      07\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(report::applied_table(c.lines), c.text);
    }
}

TEST(Report, RestoreReportFailsUnlessEveryByteIsBackAndTheProgramEndedWithZero)
{
    std::vector<report::Register> back = {{at(7, 1, 0x48), 0x05, 0x05}, {at(0, 0, 0x5c), 0, 0}};
    std::vector<report::Register> kept = {
        {at(7, 1, 0x48), 0x05, 0x03}, {at(0, 0, 0x5c), 0, 0}, {at(7, 1, 0x4a), 0x00, 0x22}};
    // Both registers of `back` back and exit code 0; a problem line after it
    // fails the report all the same.
    const std::string all_back = "Exit chosen from the tray menu (WM_COMMAND 40002).\n"
                                 "Restore: every register back at its byte from before the start\n"
                                 "  register     start  now\n"
                                 "  00:07.1 48   05     05\n"
                                 "  00:00.0 5c   00     00\n"
                                 "all 2 registers restored\n"
                                 "sorvenka.exe exit code: 0\n";
    struct Case {
        const char *name;
        report::Outcome outcome;
        bool ok;
        std::string text;
    } cases[] = {
        {"all back", {"sorvenka.exe", true, back, true, 0, {}}, true, all_back},
        {"nothing written",
         {"sorvenka.exe", false, {}, true, 0, {}},
         true,
         "Restore: every register back at its byte from before the start\n"
         "nothing to restore: no register was written\n"
         "sorvenka.exe exit code: 0\n"},
        {"two kept",
         {"sorvenka.exe", true, kept, true, 0, {}},
         false,
         "Exit chosen from the tray menu (WM_COMMAND 40002).\n"
         "Restore: every register back at its byte from before the start\n"
         "  register     start  now\n"
         "  00:07.1 48   05     03  NOT RESTORED\n"
         "  00:00.0 5c   00     00\n"
         "  00:07.1 4a   00     22  NOT RESTORED\n"
         "2 of 3 registers NOT restored: 00:07.1 48 00:07.1 4a\n"
         "sorvenka.exe exit code: 0\n"},
        {"exit code 1",
         {"sorvenka.exe", true, {back[0]}, true, 1, {}},
         false,
         "Exit chosen from the tray menu (WM_COMMAND 40002).\n"
         "Restore: every register back at its byte from before the start\n"
         "  register     start  now\n"
         "  00:07.1 48   05     05\n"
         "all 1 register restored\n"
         "sorvenka.exe exit code: 1\n"},
        {"did not end, with a problem",
         {"sorvenka.exe", true, {}, false, 0, {"sorvenka.exe did not end"}},
         false,
         "Exit chosen from the tray menu (WM_COMMAND 40002).\n"
         "Restore: every register back at its byte from before the start\n"
         "nothing to restore: no register was written\n"
         "sorvenka.exe exit code: none (it did not end)\n"
         "problem: sorvenka.exe did not end\n"},
        {"a problem alone",
         {"sorvenka.exe", true, back, true, 0, {"the harness step 'menu' did not complete"}},
         false,
         all_back + "problem: the harness step 'menu' did not complete\n"},
        // Real ports: no register was seen, and none is said to be back.
        {"ports not seen",
         {"sorvenka.exe", true, {}, true, 0, {}, true},
         true,
         "Exit chosen from the tray menu (WM_COMMAND 40002).\n"
         "Restore: not seen: the ports were real (--real-ports), so the harness saw\n"
         "no port operation; check the machine's bytes on the machine itself\n"
         "sorvenka.exe exit code: 0\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        bool ok = !c.ok;
        EXPECT_EQ(report::restore_report(c.outcome, &ok), c.text);
        EXPECT_EQ(ok, c.ok);
    }
}

} // namespace
