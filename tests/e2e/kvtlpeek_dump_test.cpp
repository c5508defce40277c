// kvtlpeek's machine dump (no file named, or /h) against the chipset's own
// bytes: each function a bridge leads to once, as lspci prints it, and a
// dump that reads back as the same machine.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kvtlpeek_e2e.h"

namespace
{

using namespace kvtlpeek_e2e;

struct DumpCase {
    const char *name;
    sim::Chipset machine;
    std::vector<sim::Bdf> listed; // in the order printed
    const char *args = "";
    unsigned count = 256; // bytes of each function shown
};

// Bus 0 first, then each bus behind a bridge once; functions 1-7 only of a
// multi-function device; nothing on a bus no bridge leads to.
std::vector<DumpCase> dump_cases()
{
    // The default machine's bus 0, and what lies behind its two bridges.
    const std::vector<sim::Bdf> bus0 = {{0, 0, 0}, {0, 1, 0},    {0, 7, 0},
                                        {0, 7, 1}, {0, 0x0B, 0}, {0, 0x0C, 0}};
    const std::vector<sim::Bdf> behind = {{1, 0, 0}, {2, 4, 0}};
    auto join = [](std::vector<std::vector<sim::Bdf>> parts) {
        std::vector<sim::Bdf> all;
        for (const auto &p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    std::vector<DumpCase> cases;
    cases.push_back({"default machine", sim::default_machine(), join({bus0, behind})});

    sim::Chipset m = sim::default_machine();
    m.add_function({0, 0x0D, 0}, space(0x1011, 0x0024, 0x01, 1)); // also claims bus 1
    m.add_function({0, 0x0E, 0}, space(0x8086, 0x1229, 0x80));    // functions 0 and 3
    m.add_function({0, 0x0E, 3}, space(0x8086, 0x122A, 0x00));
    m.add_function({0, 0x0F, 0}, space(0x5333, 0x8811, 0x00)); // function 1 never asked
    m.add_function({0, 0x0F, 1}, space(0x5333, 0x8812, 0x00));
    m.add_function({2, 5, 0}, space(0x104C, 0xAC23, 0x81, 3)); // bridge on bus 2 to bus 3
    m.add_function({2, 5, 1}, space(0x104C, 0xAC24, 0x01, 0)); // a second one back to bus 0
    m.add_function({3, 0x1F, 0}, space(0x9004, 0x7178, 0x00));
    m.poke({0, 0x0C, 0}, 0x1A, 3); // so bus 3 lies behind the bridge to bus 2
    m.add_function({4, 0, 0}, space(0x1234, 0x5678, 0x00)); // no bridge leads there
    cases.push_back({"bridges, gaps and a nested bus", m,
                     join({bus0,
                           {{0, 0x0D, 0}, {0, 0x0E, 0}, {0, 0x0E, 3}, {0, 0x0F, 0}},
                           behind,
                           {{2, 5, 0}, {2, 5, 1}, {3, 0x1F, 0}}})});

    // A CardBus bridge (header type 2) leads to its card bus at 0x19 too.
    sim::Chipset cb = sim::default_machine();
    cb.add_function({0, 0x0D, 0}, space(0x104C, 0xAC1A, 0x02, 5));
    cb.add_function({5, 0, 0}, space(0x10B7, 0x5157, 0x00));
    cases.push_back({"CardBus bridge, header only", cb,
                     join({bus0, {{0, 0x0D, 0}}, behind, {{5, 0, 0}}}), "/h", 64});

    // What some boards read from an empty slot, as Linux skips it
    // (drivers/pci/probe.c, pci_bus_generic_read_dev_vendor_id): IDs
    // 00000000, 0000FFFF or FFFF0000, as function 0 or a later one.
    sim::Chipset empty = sim::default_machine();
    empty.add_function({0, 0x0D, 0}, space(0x0000, 0x0000, 0x80));
    empty.add_function({0, 0x0D, 1}, space(0x8086, 0x7111, 0x00));
    empty.add_function({0, 0x0E, 0}, space(0x8086, 0x1229, 0x80));
    empty.add_function({0, 0x0E, 1}, space(0x0000, 0xFFFF, 0x00));
    empty.add_function({0, 0x0E, 2}, space(0xFFFF, 0x0000, 0x00));
    empty.add_function({0, 0x0E, 3}, space(0x0000, 0x0000, 0x00));
    empty.add_function({0, 0x0E, 4}, space(0x8086, 0x122A, 0x00));
    cases.push_back({"empty slots", empty, join({bus0, {{0, 0x0E, 0}, {0, 0x0E, 4}}, behind})});
    return cases;
}

TEST(Kvtlpeek, DumpsEveryPresentFunctionOnceWithEveryByte)
{
    for (const DumpCase &c : dump_cases()) {
        SCOPED_TRACE(c.name);
        PeekRun r = peek("dump", c.args, c.machine);
        EXPECT_EQ(r.code, 0u);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, expected_dump(c.machine, c.listed, c.count));
        EXPECT_TRUE(read_only(r.trace));
        std::printf("[ figures  ] %s: %zu port operations\n", c.name, r.trace.size());

        // The dump is a machine for the checker and the chipset, and reads
        // back as the same dump.
        sim::Chipset loaded;
        std::string error;
        ASSERT_TRUE(loaded.load_lspci(r.out, &error)) << error;
        ASSERT_EQ(loaded.functions().size(), c.listed.size());
        for (const sim::Bdf &at : c.listed) {
            EXPECT_EQ(loaded.peek(at, c.count - 1), c.machine.peek(at, c.count - 1))
                << sim::format(at);
            EXPECT_EQ(loaded.function(at)->known[0x40], c.count > 0x40) << sim::format(at);
        }
        PeekRun again = peek("dump_again", c.args, loaded);
        EXPECT_EQ(again.code, 0u);
        EXPECT_EQ(again.out, r.out);
    }
}

} // namespace
