#include "trace.h"

#include <algorithm>
#include <sstream>

#include "pci_config.h"

Trace applied_line(std::uint32_t address, std::uint32_t value, std::uint8_t previous)
{
    // Mechanism #1: the byte lane is the address's bits 1-0.
    const auto port = static_cast<std::uint16_t>(0xCFC + (address & 3));
    return {sim::out32(0xCF8, address), sim::in8(port, previous), sim::out32(0xCF8, address),
            sim::out8(port, value & 0xFF)};
}

Trace mechanism_test(std::uint32_t held)
{
    return {{sim::PortOp::In, 4, 0xCF8, held},
            sim::out32(0xCF8, 0x80000000),
            {sim::PortOp::In, 4, 0xCF8, 0x80000000},
            sim::out32(0xCF8, held)};
}

Trace restored(std::uint32_t address, std::uint16_t port, std::uint8_t previous)
{
    return {sim::out32(0xCF8, address), sim::out8(port, previous)};
}

Trace operator+(Trace a, const Trace &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

::testing::AssertionResult same_trace(const Trace &actual, const Trace &expected)
{
    if (actual == expected)
        return ::testing::AssertionSuccess();
    auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    size_t first = static_cast<size_t>(diff.first - actual.begin());
    std::ostringstream out;
    out << "traces differ at operation " << first << " (actual " << actual.size()
        << " ops, expected " << expected.size() << ")\n";
    for (size_t i = 0; i < std::max(actual.size(), expected.size()); i++) {
        std::string a = i < actual.size() ? sim::format(actual[i]) : "-";
        std::string e = i < expected.size() ? sim::format(expected[i]) : "-";
        out << (i == first ? "> " : "  ") << i << ": " << a;
        if (a != e)
            out << "   expected " << e;
        out << "\n";
    }
    return ::testing::AssertionFailure() << out.str();
}

void use_machine(const sim::Chipset &machine)
{
    sim::active_chipset() = machine;
    sim::active_chipset().clear_trace();
    g_journal = RegisterJournal{};
}
