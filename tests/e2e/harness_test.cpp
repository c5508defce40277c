// The harness itself: its instruction decoder, and a run of a program that
// uses every port instruction form on the virtual chipset.
#include <gtest/gtest.h>

#include <cstdio>

#include "e2e.h"
#include "port_insn.h"
#include "trace.h"

namespace
{

struct DecodeCase {
    std::vector<std::uint8_t> code;
    bool valid;
    bool in;
    unsigned width, length;
    bool imm;
    std::uint8_t port;
};

TEST(PortInsn, DecodesEveryFormAndRejectsTheRest)
{
    const DecodeCase cases[] = {
        {{0xEC}, true, true, 1, 1, false, 0},
        {{0xED}, true, true, 4, 1, false, 0},
        {{0x66, 0xED}, true, true, 2, 2, false, 0},
        {{0xEE}, true, false, 1, 1, false, 0},
        {{0xEF}, true, false, 4, 1, false, 0},
        {{0x66, 0xEF}, true, false, 2, 2, false, 0},
        {{0xE4, 0x80}, true, true, 1, 2, true, 0x80},
        {{0xE5, 0x71}, true, true, 4, 2, true, 0x71},
        {{0x66, 0xE5, 0x71}, true, true, 2, 3, true, 0x71},
        {{0xE6, 0x80}, true, false, 1, 2, true, 0x80},
        {{0xE7, 0x80}, true, false, 4, 2, true, 0x80},
        {{0x3E, 0x66, 0xEF}, true, false, 2, 3, false, 0},
        // A 66 prefix does not widen the byte forms.
        {{0x66, 0xEC}, true, true, 1, 2, false, 0},
        {{0xE4}, false, false, 0, 0, false, 0}, // immediate cut off
        {{0x66}, false, false, 0, 0, false, 0},
        {{0xF3, 0x6E}, false, false, 0, 0, false, 0}, // rep outsb
        {{0xFA}, false, false, 0, 0, false, 0},       // cli
        {{0x0F, 0x0B}, false, false, 0, 0, false, 0}, // ud2
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.code));
        auto insn = harness::decode_port_insn(c.code.data(), c.code.size());
        ASSERT_EQ(insn.has_value(), c.valid);
        if (!c.valid)
            continue;
        EXPECT_EQ(insn->in, c.in);
        EXPECT_EQ(insn->width, c.width);
        EXPECT_EQ(insn->length, c.length);
        EXPECT_EQ(insn->imm, c.imm);
        if (c.imm) {
            EXPECT_EQ(insn->port, c.port);
        }
    }
}

TEST(PortInsn, InKeepsTheBytesAboveItsWidth)
{
    EXPECT_EQ(harness::merge_in(0xAABBCCDD, 1, 0x11), 0xAABBCC11u);
    EXPECT_EQ(harness::merge_in(0xAABBCCDD, 2, 0x1122), 0xAABB1122u);
    EXPECT_EQ(harness::merge_in(0xAABBCCDD, 4, 0x11223344), 0x11223344u);
}

TEST(Harness, EmulatesEveryPortFormOnTheVirtualChipset)
{
    sim::Chipset machine = sim::default_machine();
    const sim::Bdf isa{0, 7, 0};
    std::uint32_t d = 0;
    for (unsigned i = 0; i < 4; ++i)
        d |= static_cast<std::uint32_t>(machine.peek(isa, 0x40 + i)) << (8 * i);

    harness::Session s(e2e::PORT_PROBE_EXE, "", machine);
    std::string error;
    ASSERT_TRUE(s.start(&error)) << error;
    DWORD code = 0;
    ASSERT_TRUE(s.wait_exit(e2e::TIMEOUT_MS, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_TRUE(s.unhandled().empty());

    using sim::PortOp;
    const Trace expected = {
        sim::out32(0xCF8, 0x80003840),
        sim::in8(0xCFC, d & 0xFF),
        sim::out32(0x80, 0xAABBCC00 | (d & 0xFF)),
        {PortOp::In, 2, 0xCFC, d & 0xFFFF},
        sim::out32(0x80, 0xAABB0000 | (d & 0xFFFF)),
        {PortOp::In, 4, 0xCFC, d},
        sim::out32(0x80, d),
        sim::out8(0xCFD, 0x5A),
        {PortOp::Out, 2, 0xCFE, 0x1234},
        sim::in8(0x80, 0xFF),
        sim::out8(0x80, 0xFF),
        {PortOp::In, 2, 0x80, 0xFFFF},
        {PortOp::Out, 2, 0x80, 0xFFFF},
    };
    EXPECT_TRACE(s.trace(), expected);
}

struct StartCase {
    const char *name;
    std::string program;
    bool starts;
    bool wine_fault;
};

// Only Wine failing may end a run with INFRASTRUCTURE_EXIT: a program that
// is missing or no program at all is the caller's fault, and a program that
// ran is judged on what it did.
TEST(Harness, TellsWineFailuresFromProgramFailures)
{
    const std::string dir = harness::windows_path(e2e::work_dir("wine_faults", nullptr));
    const std::string empty = dir + "\\empty.exe", folder = dir + "\\folder.exe";
    std::fclose(std::fopen(empty.c_str(), "wb"));
    CreateDirectoryA(folder.c_str(), nullptr);
    const StartCase cases[] = {
        {"a program that runs", e2e::PORT_PROBE_EXE, true, false},
        {"no such file", dir + "\\missing.exe", false, false},
        {"not an executable", empty, false, false},
        // Stands in for Wine failing to start a program that is there.
        {"a start that fails", folder, false, true},
    };
    for (const StartCase &c : cases) {
        SCOPED_TRACE(c.name);
        harness::clear_wine_fault();
        {
            harness::Session s(c.program, "", sim::default_machine());
            std::string error;
            const bool started = s.start(&error);
            const bool ended = started && c.starts && s.wait_exit(e2e::TIMEOUT_MS);
            // A program that runs which Wine could not start, or which never
            // reached its entry point, says nothing of the harness: the fault
            // stays for the test wiring to see. Asked only once the program
            // has ended, since before that it may simply not be there yet.
            if (c.starts && !s.wine_fault().empty())
                FAIL() << "Wine failed: " << s.wine_fault();
            EXPECT_EQ(started, c.starts) << error;
            if (c.starts) {
                EXPECT_TRUE(ended);
            }
            EXPECT_EQ(s.wine_fault().empty(), !c.wine_fault) << s.wine_fault();
        }
        EXPECT_EQ(harness::wine_fault().empty(), !c.wine_fault) << harness::wine_fault();
    }
    harness::clear_wine_fault();
}

// Run only by the ctest e2e_wine_fault_status, which expects the test
// program to end with harness::INFRASTRUCTURE_EXIT instead of a failure.
TEST(WineFault, DISABLED_AFailedTestAfterWineFailedEndsWithItsOwnStatus)
{
    const std::string folder = harness::windows_path(e2e::work_dir("wine_fault", nullptr));
    harness::Session s(folder, "", sim::default_machine());
    std::string error;
    ASSERT_TRUE(s.start(&error)) << error;
}

} // namespace
