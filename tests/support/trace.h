// Expected port traces as tables, compared by one helper that prints both
// sides on a mismatch.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "chipset.h"

using Trace = std::vector<sim::PortOp>;

// The four operations of one applied settings line that selects `address`
// (given as a literal by the caller, never worked out with the engine's
// formula): journal read, then write, on the data port of the address's
// byte lane.
Trace applied_line(std::uint32_t address, std::uint32_t value, std::uint8_t previous);
// The Mechanism #1 test before the first line, on a board whose 0xCF8
// held `held` (0 on the virtual chipset at power-on): read, 0x80000000 out
// and read back, `held` out again.
Trace mechanism_test(std::uint32_t held = 0);
// The two operations that put one journalled byte back.
Trace restored(std::uint32_t address, std::uint16_t port, std::uint8_t previous);
Trace operator+(Trace a, const Trace &b);

::testing::AssertionResult same_trace(const Trace &actual, const Trace &expected);
#define EXPECT_TRACE(actual, expected) EXPECT_TRUE(same_trace((actual), (expected)))

// Makes `machine` the chipset the port functions reach, with an empty trace
// and an empty journal.
void use_machine(const sim::Chipset &machine);
