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
    // IDETIM bits 11-10 are reserved (86Box intel_piix.c: 43h takes F3).
    EXPECT_EQ(sim::active_chipset().peek({0, 7, 1}, 0x43), 0x52);
    EXPECT_EQ(journal_entry(0).previous, 0xA3u);
}

TEST(PciConfig, ValueAboveFFWritesOnlyTheLowByte)
{
    use_machine(machine());
    cfg_write_byte(0x44, 7, 1, 0x1234);
    EXPECT_TRACE(ports(), (Trace{out32(0xCF8, 0x80003944), out8(0xCFC, 0x34)}));
    EXPECT_TRUE(g_journal.count == 0);
}

sim::PortOp in32(std::uint16_t port, std::uint32_t v)
{
    return {sim::PortOp::In, 4, port, v};
}

// The latch test reads 0xCF8, writes 0x80000000, reads it again and puts
// back what it held: four operations, whatever the board.
struct Latch {
    const char *name;
    bool mechanism1;
    bool present;
    Trace ports;
};

TEST(PciConfig, MechanismTestPutsBackWhat0xCF8Held)
{
    const Latch cases[] = {
        {"mechanism1",
         true,
         true,
         {in32(0xCF8, 0x80003944), out32(0xCF8, 0x80000000), in32(0xCF8, 0x80000000),
          out32(0xCF8, 0x80003944)}},
        {"no_register_at_cf8",
         false,
         false,
         {in32(0xCF8, 0xFFFFFFFF), out32(0xCF8, 0x80000000), in32(0xCF8, 0xFFFFFFFF),
          out32(0xCF8, 0xFFFFFFFF)}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sim::Chipset m = machine();
        m.set_mechanism1(c.mechanism1);
        use_machine(m);
        cfg_write_byte(0x44, 7, 1, 0); // leaves 0x80003944 selected
        sim::active_chipset().clear_trace();
        EXPECT_EQ(cfg_mechanism1_present(), c.present);
        EXPECT_TRACE(ports(), c.ports);
    }
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

// Every entry goes back, newest first, so each address reaches what it
// reached when it was journalled; the whole machine ends at its power-on
// bytes, and a second restore repeats the first.
struct Undo {
    const char *name;
    std::initializer_list<Line> lines;
    Trace restore;
};

TEST(PciConfig, RestoreUndoesEveryLineNewestFirst)
{
    const Undo cases[] = {
        {"three registers, one absent",
         {{0x43, 0x5A, 7, 1}, {0x50, 0x11, 0, 0}, {0x40, 0x22, 0, 0x20}},
         restored(0x80002040, 0xCFC, 0xFF) + // 00:04.0 is absent
             restored(0x80000050, 0xCFC, 0x0C) + restored(0x80003943, 0xCFF, 0xA3)},
        {"same line twice",
         {{0x43, 0x11, 7, 1}, {0x43, 0x22, 7, 1}},
         restored(0x80003943, 0xCFF, 0x11) + restored(0x80003943, 0xCFF, 0xA3)},
        {"one register spelt two ways (function 1 vs register 0x100 up)",
         {{0x43, 0x11, 7, 1}, {0x50, 0x33, 0, 0}, {0x143, 0x22, 7, 0}},
         restored(0x80003943, 0xCFF, 0x11) + restored(0x80000050, 0xCFC, 0x0C) +
             restored(0x80003943, 0xCFF, 0xA3)},
        {"reserved address bits 30-24 select the same register",
         {{0x50, 0x11, 0, 0}, {0x50, 0x22, 0x2000, 0}},
         restored(0x81000050, 0xCFC, 0x11) + restored(0x80000050, 0xCFC, 0x0C)},
        {"a part that ignores the function number, named under two",
         {{0x3C, 0x05, 0x0B, 3}, {0x3C, 0x07, 0x0B, 0}},
         restored(0x8000583C, 0xCFC, 0x05) + restored(0x80005B3C, 0xCFC, 0x0A)},
        // The AGP bridge's subordinate and then secondary bus from 1 to 3,
        // then the card behind it (device 0x60: bus 3, device 0): the card's
        // byte goes back while bus 3 still reaches it.
        {"a bridge's bus numbers, then the card behind it",
         {{0x1A, 0x03, 1, 0}, {0x19, 0x03, 1, 0}, {0x40, 0x55, 0x60, 0}},
         restored(0x80030040, 0xCFC, 0x21) + restored(0x80000819, 0xCFD, 0x01) +
             restored(0x8000081A, 0xCFE, 0x01)},
    };
    const sim::Chipset power_on = machine();
    for (const Undo &c : cases) {
        SCOPED_TRACE(c.name);
        use_machine(power_on);
        apply(c.lines);
        sim::active_chipset().clear_trace();
        journal_restore();
        EXPECT_TRACE(ports(), c.restore);
        for (const auto &f : power_on.functions())
            EXPECT_EQ(sim::active_chipset().functions().at(f.first).bytes, f.second.bytes)
                << sim::format(f.first);
        journal_restore();
        EXPECT_TRACE(ports(), c.restore + c.restore);
        EXPECT_EQ(g_journal.count, static_cast<int>(c.lines.size()));
    }
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

} // namespace
