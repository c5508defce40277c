#include "kvtlpeek_e2e.h"

#include <cstdio>

namespace kvtlpeek_e2e
{

const char *const PEEK_EXE = KVTLPEEK_EXE;

e2e::Options peek_options(const sim::Chipset &machine, const std::string &args)
{
    e2e::Options o;
    o.exe = PEEK_EXE;
    o.machine = machine;
    o.arguments = args;
    o.output = true;
    o.window = false;
    o.watch = false;
    return o;
}

PeekRun peek(const std::string &name, const std::string &args, const sim::Chipset &machine,
             const std::optional<std::string> &cfg)
{
    e2e::Options o = peek_options(machine, args);
    o.no_settings = !cfg;
    o.settings = cfg.value_or("");
    e2e::Program p("kvtlpeek_" + name, o);
    PeekRun r;
    if (!p.started())
        return r;
    r.code = p.wait_exit(RUN_MS);
    r.trace = p.session().trace();
    r.out = p.out();
    r.err = p.err();
    return r;
}

testing::AssertionResult read_only(const Trace &trace)
{
    for (const sim::PortOp &op : trace) {
        bool ok = op.dir == sim::PortOp::Out ? op.port == 0xCF8 && op.width == 4
                                             : (op.port == 0xCF8 && op.width == 4) ||
                                                   (op.port >= 0xCFC && op.port <= 0xCFF);
        if (!ok)
            return testing::AssertionFailure() << "port operation " << sim::format(op);
    }
    return testing::AssertionSuccess();
}

std::string hex2(unsigned v)
{
    char s[8];
    std::snprintf(s, sizeof s, "%02x", v & 0xFF);
    return s;
}

namespace
{

// One function as "lspci -n -xxx" (or, count 64, "-x") prints it, from the
// model's bytes.
std::string lspci_block(const sim::Bdf &at, const std::array<std::uint8_t, 256> &b, unsigned count)
{
    std::string s = sim::format(at) + " " + hex2(b[0x0B]) + hex2(b[0x0A]) + ": " + hex2(b[1]) +
                    hex2(b[0]) + ":" + hex2(b[3]) + hex2(b[2]);
    if (b[0x08])
        s += " (rev " + hex2(b[0x08]) + ")";
    s += "\r\n";
    for (unsigned row = 0; row < count; row += 16) {
        s += hex2(row) + ":";
        for (unsigned i = 0; i < 16; i++)
            s += " " + hex2(b[row + i]);
        s += "\r\n";
    }
    return s + "\r\n";
}

} // namespace

std::string expected_dump(const sim::Chipset &m, const std::vector<sim::Bdf> &listed,
                          unsigned count)
{
    // The bytes each function holds, whether or not a bridge routes to it
    // now: a dump is a record, not a configuration cycle.
    std::string s;
    for (const sim::Bdf &at : listed) {
        auto f = m.functions().find(at);
        if (f == m.functions().end()) {
            ADD_FAILURE() << sim::format(at) << " is not in the machine";
            continue;
        }
        s += lspci_block(at, f->second.bytes, count);
    }
    return s;
}

std::array<std::uint8_t, 256> space(unsigned vendor, unsigned device, unsigned header_type,
                                    unsigned secondary_bus)
{
    std::array<std::uint8_t, 256> b{};
    b[0] = vendor & 0xFF;
    b[1] = vendor >> 8;
    b[2] = device & 0xFF;
    b[3] = device >> 8;
    b[0x08] = 0x01;
    b[0x0B] = header_type & 0x7F ? 0x06 : 0x02;
    b[0x0A] = header_type & 0x7F ? 0x04 : 0x00;
    b[0x0E] = static_cast<std::uint8_t>(header_type);
    b[0x19] = static_cast<std::uint8_t>(secondary_bus);
    b[0x1A] = static_cast<std::uint8_t>(secondary_bus); // subordinate
    for (unsigned i = 0x40; i < 256; i++)
        b[i] = static_cast<std::uint8_t>(i * 7 + device);
    return b;
}

} // namespace kvtlpeek_e2e
