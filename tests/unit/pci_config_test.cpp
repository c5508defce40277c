// Configuration Mechanism #1 access and the restore journal, on the virtual
// chipset. Every case states the exact port sequence it expects.
#include <gtest/gtest.h>

#include "pci_config.h"
#include "trace.h"

namespace
{

using sim::in8;
using sim::out32;
using sim::out8;

sim::Chipset machine()
{
    return sim::default_machine();
}
const Trace &ports()
{
    return sim::active_chipset().trace();
}

struct Composition {
    std::uint32_t reg, device, function;
    std::uint32_t address;
    std::uint16_t port;
};

// Address and data port, spills included: no field is masked.
const Composition compositions[] = {
    {0x00, 0, 0, 0x80000000, 0xCFC},
    {0x41, 0, 0, 0x80000041, 0xCFD}, // bits 1-0 stay in the address
    {0xFE, 0, 0, 0x800000FE, 0xCFE},
    {0x43, 7, 1, 0x80003943, 0xCFF},
    {0x10, 0x20, 0, 0x80010010, 0xCFC},     // device 32: bus 1, device 0
    {0x00, 0, 8, 0x80000800, 0xCFC},        // function 8: device 1
    {0x00, 0, 0x100, 0x80010000, 0xCFC},    // function 256: bus 1
    {0x141, 7, 0, 0x80003941, 0xCFD},       // register 0x141: function 1
    {0x10000, 0, 0, 0x80010000, 0xCFC},     // register spills into the bus
    {0x43, 0x2000, 0, 0x81000043, 0xCFF},   // into the reserved bits
    {0x00, 0x100000, 0, 0x80000000, 0xCFC}, // into bit 31, already set
    {0xFFFFFFFF, 0, 0, 0xFFFFFFFF, 0xCFF},
};

class CompositionTest : public ::testing::TestWithParam<Composition>
{
};

TEST_P(CompositionTest, ReadAndWriteSelectTheSameRegisterAndLane)
{
    const Composition &c = GetParam();
    sim::Chipset m; // nothing present: every read gives 0xFF
    use_machine(m);

    cfg_read_record(c.reg, c.device, c.function);
    cfg_write_byte(c.reg, c.device, c.function, 0x5A);

    EXPECT_TRACE(ports(), (Trace{out32(0xCF8, c.address), in8(c.port, 0xFF),
                                 out32(0xCF8, c.address), out8(c.port, 0x5A)}));
    ASSERT_EQ(g_journal.count, 1);
    EXPECT_EQ(g_journal.address[0], c.address);
    EXPECT_EQ(g_journal.previous[0], 0xFFu);
    EXPECT_EQ(g_journal.port[0], c.port);
}

INSTANTIATE_TEST_SUITE_P(Spills, CompositionTest, ::testing::ValuesIn(compositions));

TEST(PciConfig, WorkedExampleReadsThenWritesTheIdeTimingByte)
{
    use_machine(machine());
    cfg_read_record(0x43, 7, 1);
    cfg_write_byte(0x43, 7, 1, 0x5A);

    EXPECT_TRACE(ports(), applied_line(0x80003943, 0x5A, 0xA3));
    EXPECT_EQ(sim::active_chipset().peek({0, 7, 1}, 0x43), 0x5A);
    EXPECT_EQ(journal_entry(0).previous, 0xA3u);
}

TEST(PciConfig, ValueAboveFFWritesOnlyTheLowByte)
{
    use_machine(machine());
    cfg_write_byte(0x44, 7, 1, 0x1234);
    EXPECT_TRACE(ports(), (Trace{out32(0xCF8, 0x80003944), out8(0xCFC, 0x34)}));
    EXPECT_TRUE(g_journal.count == 0);
}

TEST(PciConfig, EmptyJournalRestoresNothing)
{
    use_machine(machine());
    journal_restore();
    EXPECT_TRACE(ports(), Trace{});
}

// Applies lines straight through the engine, then restores.
struct Line {
    std::uint32_t reg, value, device, function;
};

void apply(std::initializer_list<Line> lines)
{
    for (const Line &l : lines) {
        cfg_read_record(l.reg, l.device, l.function);
        cfg_write_byte(l.reg, l.device, l.function, l.value);
    }
}

TEST(PciConfig, RestoreGoesOldestFirstAndCanRunTwice)
{
    use_machine(machine());
    apply({{0x43, 0x5A, 7, 1}, {0x50, 0x11, 0, 0}, {0x40, 0x22, 0, 0x20}});
    sim::active_chipset().clear_trace();

    journal_restore();
    const Trace once = restored(0x80003943, 0xCFF, 0xA3) + restored(0x80000050, 0xCFC, 0x0C) +
                       restored(0x80002040, 0xCFC, 0xFF); // 00:04.0 is absent
    EXPECT_TRACE(ports(), once);
    journal_restore();
    EXPECT_TRACE(ports(), once + once);
    EXPECT_EQ(g_journal.count, 3);
    EXPECT_EQ(sim::active_chipset().peek({0, 7, 1}, 0x43), 0xA3);
    EXPECT_EQ(sim::active_chipset().peek({0, 0, 0}, 0x50), 0x0C);
}

TEST(PciConfig, ReadOnlyByteKeepsItsValueAndGetsItBack)
{
    use_machine(machine());
    apply({{0x00, 0x12, 7, 1}}); // vendor ID low byte
    EXPECT_EQ(sim::active_chipset().peek({0, 7, 1}, 0x00), 0x86);
    sim::active_chipset().clear_trace();
    journal_restore();
    EXPECT_TRACE(ports(), restored(0x80003900, 0xCFC, 0x86));
}

// A register written by two lines: its second entry holds the first line's
// byte, so only the oldest entry may go back.
struct Duplicate {
    const char *name;
    std::initializer_list<Line> lines;
    Trace restore;
};

TEST(PciConfig, RegisterNamedTwiceGetsItsOriginalByteBack)
{
    const Duplicate cases[] = {
        {"same line twice",
         {{0x43, 0x11, 7, 1}, {0x43, 0x22, 7, 1}},
         restored(0x80003943, 0xCFF, 0xA3)},
        {"other registers in between keep their order",
         {{0x43, 0x11, 7, 1}, {0x50, 0x33, 0, 0}, {0x43, 0x22, 7, 1}, {0x51, 0x44, 0, 0}},
         restored(0x80003943, 0xCFF, 0xA3) + restored(0x80000050, 0xCFC, 0x0C) +
             restored(0x80000051, 0xCFD, 0x02)},
        {"one register spelt two ways (function 1 vs register 0x100 up)",
         {{0x43, 0x11, 7, 1}, {0x143, 0x22, 7, 0}},
         restored(0x80003943, 0xCFF, 0xA3)},
        {"reserved address bits 30-24 select the same register",
         {{0x50, 0x11, 0, 0}, {0x50, 0x22, 0x2000, 0}},
         restored(0x80000050, 0xCFC, 0x0C)},
        {"neighbouring byte lanes are different registers",
         {{0x50, 0x11, 0, 0}, {0x51, 0x22, 0, 0}},
         restored(0x80000050, 0xCFC, 0x0C) + restored(0x80000051, 0xCFD, 0x02)},
    };
    for (const Duplicate &c : cases) {
        SCOPED_TRACE(c.name);
        use_machine(machine());
        apply(c.lines);
        EXPECT_EQ(g_journal.count, static_cast<int>(c.lines.size()));
        sim::active_chipset().clear_trace();
        journal_restore();
        EXPECT_TRACE(ports(), c.restore);
        journal_restore();
        EXPECT_TRACE(ports(), c.restore + c.restore);
        EXPECT_EQ(sim::active_chipset().peek({0, 7, 1}, 0x43), 0xA3);
        EXPECT_EQ(sim::active_chipset().peek({0, 0, 0}, 0x50), 0x0C);
        EXPECT_EQ(sim::active_chipset().peek({0, 0, 0}, 0x51), 0x02);
    }
}

} // namespace
