// The virtual chipset must behave like a Mechanism #1 host bridge, or every
// trace the tests compare would mean nothing.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "chipset.h"

namespace
{

using sim::Bdf;

struct Access {
    const char *name;
    std::uint32_t address;
    std::uint16_t port;
    std::uint8_t expected;
};

TEST(Chipset, DecodesAddressAndByteLane)
{
    sim::Chipset c = sim::default_machine();
    const Access cases[] = {
        {"vendor low", 0x80000000, 0xCFC, 0x86},
        {"vendor high through lane 1", 0x80000000, 0xCFD, 0x80},
        {"address bits 1-0 ignored, lane from port", 0x80000003, 0xCFD, 0x80},
        {"PIIX4 IDE timing byte 0x43", 0x80003940, 0xCFF, 0xA3},
        {"reserved bits 30-24 ignored", 0xFF003943, 0xCFF, 0xA3},
        {"bus 1 display adapter", 0x80010000, 0xCFC, 0x2B},
        {"absent 00:07.2", 0x80003A00, 0xCFC, 0xFF},
        {"absent 02:00.0 behind the PCI bridge", 0x80020000, 0xCFC, 0xFF},
        {"02:04.0 behind the PCI bridge", 0x80022000, 0xCFC, 0xB7},
        {"absent bus 3", 0x80032000, 0xCFC, 0xFF},
        {"enable bit clear: no configuration cycle", 0x00000000, 0xCFC, 0xFF},
    };
    for (const Access &a : cases) {
        c.io_write(0xCF8, 4, a.address);
        EXPECT_EQ(c.io_read(a.port, 1), a.expected) << a.name;
    }
}

TEST(Chipset, WritesHonourMasksAndPresence)
{
    sim::Chipset c = sim::default_machine();
    auto write = [&](std::uint32_t address, std::uint16_t port, std::uint8_t v) {
        c.io_write(0xCF8, 4, address);
        c.io_write(port, 1, v);
    };
    write(0x80003900, 0xCFC, 0x00); // vendor ID: read-only
    write(0x80003948, 0xCFC, 0xFF); // UDMA control: upper nibble reserved
    write(0x80000050, 0xCFC, 0x5A); // writable chipset register
    write(0x80003A40, 0xCFC, 0x12); // absent function
    write(0x00000050, 0xCFC, 0x77); // not enabled
    EXPECT_EQ(c.peek({0, 7, 1}, 0x00), 0x86);
    EXPECT_EQ(c.peek({0, 7, 1}, 0x48), 0x0F);
    EXPECT_EQ(c.peek({0, 0, 0}, 0x50), 0x5A);
    EXPECT_FALSE(c.present({0, 7, 2}));
}

TEST(Chipset, APartThatIgnoresTheFunctionNumberAnswersOnAllEightAsOne)
{
    sim::Chipset c = sim::default_machine();
    for (unsigned fn = 0; fn < 8; fn++) {
        EXPECT_TRUE(c.present({0, 0x0B, fn})) << fn;
        EXPECT_EQ(c.peek({0, 0x0B, fn}, 0x00), 0xEC) << fn;
    }
    EXPECT_EQ(c.functions().count(Bdf{0, 0x0B, 3}), 0u) << "listed once, as function 0";
    c.io_write(0xCF8, 4, 0x80005B3C); // 00:0b.3 interrupt line
    c.io_write(0xCFC, 1, 0x05);
    EXPECT_EQ(c.peek({0, 0x0B, 0}, 0x3C), 0x05);
    EXPECT_FALSE(c.present({0, 7, 2})) << "a multi-function part does not";
}

// Bus numbers go through each bridge's own registers as they are now: a
// bridge takes a cycle only for secondary <= bus <= subordinate. The machine
// adds a bridge 02:01.0 to bus 3 behind the one at 00:0c.0 (whose
// subordinate bus is 2), a card 03:00.0 behind it, and a card on a bus 5
// that no bridge leads to.
struct Routed {
    const char *name;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> writes; // address (lane in bits 1-0), byte
    std::uint32_t read;                                         // lane 0
    std::uint8_t expected;
};

TEST(Chipset, BusNumbersGoThroughTheBridgesBusRegisters)
{
    sim::Chipset m = sim::default_machine();
    std::array<std::uint8_t, 256> bridge{}, card{}, root_card{};
    bridge[0x00] = 0x11;
    bridge[0x0E] = 0x01;
    sim::set_bus_numbers(bridge, 2, 3, 3);
    card[0x00] = 0x34;
    root_card[0x00] = 0x78;
    m.add_function({2, 1, 0}, bridge);
    m.add_function({3, 0, 0}, card);
    m.add_function({5, 0, 0}, root_card);

    const Routed cases[] = {
        {"power-on: the AGP card on bus 1", {}, 0x80010000, 0x2B},
        {"AGP buses moved to 3, subordinate first: the card answers there",
         {{0x8000081A, 3}, {0x80000819, 3}},
         0x80030000,
         0x2B},
        {"... and no longer on bus 1", {{0x8000081A, 3}, {0x80000819, 3}}, 0x80010000, 0xFF},
        {"a write goes where the bus is now",
         {{0x8000081A, 3}, {0x80000819, 3}, {0x80030040, 0x55}, {0x80000819, 1}},
         0x80010040,
         0x55},
        {"a secondary bus moved above the subordinate one is not reached",
         {{0x80000819, 3}},
         0x80030000,
         0xFF},
        {"a bus above the subordinate one is not passed on", {}, 0x80030000, 0xFF},
        {"up to the subordinate bus it is", {{0x8000601A, 3}}, 0x80030000, 0x34},
        {"... unless the bridge there has its subordinate below its secondary",
         {{0x8000601A, 3}, {0x8002081A, 2}},
         0x80030000,
         0xFF},
        {"a bus no bridge leads to is reached by its number", {}, 0x80050000, 0x78},
    };
    for (const Routed &c : cases) {
        sim::Chipset chip = m;
        for (const auto &w : c.writes) {
            chip.io_write(0xCF8, 4, w.first);
            chip.io_write(static_cast<std::uint16_t>(0xCFC + (w.first & 3)), 1, w.second);
        }
        chip.io_write(0xCF8, 4, c.read);
        EXPECT_EQ(chip.io_read(0xCFC, 1), c.expected) << c.name;
    }
}

TEST(Chipset, WithoutMechanism1NothingAnswers)
{
    sim::Chipset c = sim::default_machine();
    c.set_mechanism1(false);
    c.io_write(0xCF8, 4, 0x80000000);
    EXPECT_EQ(c.io_read(0xCF8, 4), 0xFFFFFFFFu);
    EXPECT_EQ(c.io_read(0xCFC, 4), 0xFFFFFFFFu);
    c.io_write(0xCFC, 1, 0x00);
    EXPECT_EQ(c.peek({0, 0, 0}, 0x00), 0x86);
}

TEST(Chipset, OnlyA32BitWriteLatchesTheAddressAndEveryOperationIsTraced)
{
    sim::Chipset c = sim::default_machine();
    c.io_write(0xCF8, 4, 0x80003943);
    c.io_write(0xCF8, 1, 0x00); // byte write: an ordinary I/O cycle
    EXPECT_EQ(c.config_address(), 0x80003940u);
    EXPECT_EQ(c.io_read(0xCF8, 4), 0x80003940u);
    EXPECT_EQ(c.io_read(0xCFE, 2), 0xA307u);
    const std::vector<std::string> expected = {"out32 0cf8 80003943", "out8 0cf8 00",
                                               "in32 0cf8 -> 80003940", "in16 0cfe -> a307"};
    std::vector<std::string> actual;
    for (const sim::PortOp &op : c.trace())
        actual.push_back(sim::format(op));
    EXPECT_EQ(actual, expected);
}

TEST(Chipset, LoadsLspciDumps)
{
    const std::string dump = "0000:00:00.0 Host bridge: Intel Corporation 440BX (rev 03)\n"
                             "00: 86 80 90 71 06 00 10 22 03 00 00 06 00 40 00 00\n"
                             "50: 0c 02 00 20\n"
                             "\n"
                             "01:05.2 USB controller: Foo\r\n"
                             "00: 22 11 44 33 00 00 00 00 00 00 00 00 00 00 00 00\r\n"
                             "100: 01 02 03 04\r\n";
    sim::Chipset c;
    std::string error;
    ASSERT_TRUE(c.load_lspci(dump, &error)) << error;
    EXPECT_EQ(c.functions().size(), 2u);
    EXPECT_EQ(c.peek({0, 0, 0}, 0x51), 0x02);
    EXPECT_EQ(c.peek({0, 0, 0}, 0x60), 0x00); // not in the dump
    EXPECT_EQ(c.peek({1, 5, 2}, 0x03), 0x33);
    EXPECT_EQ(c.functions().at(Bdf{1, 5, 2}).name, "USB controller: Foo");
}

const std::string SLOT = "00:00.0 Host bridge\n";
const std::string ROW = "00: 86 80 90 71 06 00 10 22 03 00 00 06 00 40 00 00\n";

struct BadDump {
    const char *name;
    std::string text;
    std::string message; // the whole message, line number first
};

// A dump is a user's file: each of these ends in a message, never a crash.
const BadDump bad_dumps[] = {
    {"empty file", "", "the dump is empty"},
    {"blank lines only", "\n  \n", "no device in the dump"},
    {"prose", "hello\n", "line 1: not an lspci -x dump: 'hello'"},
    {"row before any device", ROW, "line 1: bytes before any device line ('bb:dd.f name')"},
    {"slot cut after the bus", "0000:0", "line 1: not an lspci -x dump: '0000:0'"},
    {"domain, cut short", "0000:00", "line 1: not an lspci -x dump: '0000:00'"},
    {"slot without function", SLOT + "00:07.\n", "line 2: bad byte '07.' (two hex digits each)"},
    {"offset alone", SLOT + "0", "line 2: not an lspci -x dump: '0'"},
    {"row without bytes", SLOT + "50:\n", "line 2: no bytes after offset 50"},
    {"one hex digit", SLOT + "00: 8 80\n", "line 2: bad byte '8' (two hex digits each)"},
    {"not hex", SLOT + "00: 86 zz\n", "line 2: bad byte 'zz' (two hex digits each)"},
    {"three digits", SLOT + "00: 868\n", "line 2: bad byte '868' (two hex digits each)"},
    {"bad offset", SLOT + "zz: 00\n", "line 2: not an lspci -x dump: 'zz: 00'"},
    {"17 bytes in a row", SLOT + "00: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10\n",
     "line 2: more than 16 bytes in a row"},
    {"offset past f0", SLOT + "f8: 01 02 03 04 05 06 07 08\n",
     "line 2: offset f8 does not start a row of 16 bytes"},
    {"offset 1001", SLOT + "1001: 00\n", "line 2: not an lspci -x dump: '1001: 00'"},
    {"device 20", "00:20.0 x\n00: 00\n", "line 1: device 20 is above 1f"},
    {"function 8", "00:07.8 x\n00: 00\n", "line 1: function 8 is above 7"},
    {"domain 0001", "0001:00:00.0 x\n00: 00\n",
     "line 1: domain 0001: ports CF8/CFC reach domain 0000 only"},
    {"a function twice", SLOT + ROW + "\n" + SLOT, "line 4: 00:00.0 again (first on line 1)"},
    {"NUL in a row", SLOT + std::string("00: 86\0 80\n", 11),
     "line 2: control byte '\\x00' at column 7"},
    {"NUL in a name", std::string("00:00.0 x\0y\n", 12),
     "line 1: control byte '\\x00' at column 10"},
    {"escape in a name", "00:00.0 \x1b[31mred\n", "line 1: control byte '\\x1B' at column 9"},
    {"CR-only ends, bad third line", "00:00.0 x\r00: 00\rzz\r",
     "line 3: not an lspci -x dump: 'zz'"},
    {"1 MB line", SLOT + std::string(1 << 20, '0'),
     "line 2: 1048576 bytes long: not a line of lspci"},
};

TEST(Chipset, MalformedDumpsEndInAMessageNamingTheLineAndAddNothing)
{
    for (const BadDump &d : bad_dumps) {
        sim::Chipset c;
        std::string error;
        EXPECT_FALSE(c.load_lspci(d.text, &error)) << d.name;
        EXPECT_EQ(error, d.message) << d.name;
        EXPECT_TRUE(c.functions().empty()) << d.name;
    }
}

TEST(Chipset, DumpsReadWhateverTheirLineEnds)
{
    const std::string bytes = "00: 86 80 90 71\n50: 0c 02\n";
    const struct {
        const char *name;
        std::string text;
    } cases[] = {
        {"LF", "00:00.0 Host\n" + bytes},
        {"CR LF", "00:00.0 Host\r\n00: 86 80 90 71\r\n50: 0c 02\r\n"},
        {"CR alone", "00:00.0 Host\r00: 86 80 90 71\r50: 0c 02\r"},
        {"no end after the last row", "00:00.0 Host\n00: 86 80 90 71\n50: 0c 02"},
        {"extended rows ignored", "00:00.0 Host\n" + bytes + "100: 01 02\nff0: 03\n"},
    };
    for (const auto &c : cases) {
        sim::Chipset m;
        std::string error;
        ASSERT_TRUE(m.load_lspci(c.text, &error)) << c.name << ": " << error;
        ASSERT_EQ(m.functions().size(), 1u) << c.name;
        const sim::Function &f = m.functions().at(Bdf{0, 0, 0});
        EXPECT_EQ(f.name, "Host") << c.name;
        std::array<std::uint8_t, 256> expected{};
        expected[0] = 0x86, expected[1] = 0x80, expected[2] = 0x90, expected[3] = 0x71;
        expected[0x50] = 0x0C, expected[0x51] = 0x02;
        EXPECT_EQ(f.bytes, expected) << c.name;
    }
}

} // namespace
