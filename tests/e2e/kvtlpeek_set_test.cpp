// kvtlpeek /s BB:DD.F REG VALUE[:MASK]: a settings line from the byte the
// register holds now.
#include <gtest/gtest.h>

#include <string>

#include "kvtlpeek_e2e.h"

namespace
{

using namespace kvtlpeek_e2e;

// kvtlpeek /s: the line from the byte the register holds now, the
// warnings about it on standard error; 6 where no line can do it. Only
// reads: the promise of every mode.
TEST(Kvtlpeek, SetMakesTheLineFromTheLiveByteOrSaysNoLineCan)
{
    const struct {
        const char *args;
        DWORD code;
        const char *out;
        const char *err; // a part of standard error; "" for none at all
    } cases[] = {
        {"/s 00:07.1 48 02:02", 0, "48,07,7,1\r\n", ""}, // 05 there
        // Behind two bridges, device field bus 2 x 20 + 4; 09 there.
        {"/s 02:04.0 3c 02:02", 0, "3C,0B,44,0\r\n",
         "warning: INTERRUPT_LINE bits 7-0 (interrupt line) 09->0B: "},
        {"/s 00:07.1 100 02", 6, "", "register 100: "},
        {"/s 00:0a.0 48 02", 6, "", "nothing answers"},
        {"/s 00:0d.0 48 02", 6, "", "nothing answers"},
        {"/s 00:07.1 48 22:22", 6, "", "bits 20 are read-only"}, // UDMACTL 7-4 reserved
        {"/s", 2, "", "usage"},
    };
    sim::Chipset machine = sim::default_machine();
    machine.add_function({0, 0x0D, 0}, space(0x0000, 0xFFFF, 0x00)); // an empty slot's IDs
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        PeekRun r = peek("set", c.args, machine);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, c.out);
        if (*c.err)
            EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        else
            EXPECT_EQ(r.err, "");
        EXPECT_TRUE(read_only(r.trace));
    }
}

} // namespace
