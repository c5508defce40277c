// A virtual PC's PCI configuration space behind Configuration Mechanism #1.
//
// CONFIG_ADDRESS (0xCF8, 32-bit): bit 31 enable, 30-24 reserved (ignored,
// read as 0), 23-16 bus, 15-11 device, 10-8 function, 7-2 dword, 1-0 ignored
// (read as 0). CONFIG_DATA (0xCFC-0xCFF): the byte lane is the port's low two
// bits. Absent functions read 0xFF and drop writes; each byte has a mask of
// the bits that take a write. Every port operation is traced.
//
// Functions are kept by where they sit at power-on. A bus behind a
// PCI-to-PCI (or CardBus) bridge is reached through that bridge's bus
// registers as they are now: a bridge takes a cycle for bus N only when its
// secondary bus (0x19) <= N <= its subordinate bus (0x1A), handing it to the
// cards behind it when N is the secondary bus and on to the bridges there
// when N is higher. A bridge whose subordinate bus is below its secondary
// takes none. Moving a bridge's bus numbers moves its cards to the new
// secondary number once the subordinate covers it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "pci_dump.h"

namespace sim
{

struct PortOp {
    enum Dir : std::uint8_t { In, Out };
    Dir dir;
    std::uint8_t width; // bytes: 1, 2 or 4
    std::uint16_t port;
    std::uint32_t value;

    bool operator==(const PortOp &o) const
    {
        return dir == o.dir && width == o.width && port == o.port && value == o.value;
    }
};

inline PortOp out32(std::uint16_t port, std::uint32_t v)
{
    return {PortOp::Out, 4, port, v};
}
inline PortOp out8(std::uint16_t port, std::uint32_t v)
{
    return {PortOp::Out, 1, port, v};
}
inline PortOp in8(std::uint16_t port, std::uint32_t v)
{
    return {PortOp::In, 1, port, v};
}

// "out32 0cf8 80003943", "in8 0cff -> 5a"
std::string format(const PortOp &op);

struct Bdf {
    unsigned bus, dev, fn;
    bool operator<(const Bdf &o) const
    {
        return bus != o.bus ? bus < o.bus : dev != o.dev ? dev < o.dev : fn < o.fn;
    }
    bool operator==(const Bdf &o) const { return bus == o.bus && dev == o.dev && fn == o.fn; }
};

std::string format(const Bdf &b); // "00:07.1"

// Where a configuration address and data port land.
struct Target {
    bool enabled; // bit 31 of the address
    Bdf bdf;
    unsigned reg; // 0..255: the address's dword plus the port's byte lane
};
Target decode(std::uint32_t config_address, std::uint16_t data_port);

struct Function {
    std::string name; // free text, e.g. from an lspci header line
    std::array<std::uint8_t, 256> bytes;
    std::array<std::uint8_t, 256> writable; // per byte: bits that take a write
    std::array<std::uint8_t, 256> clears{}; // per byte: bits a written 1 clears
    std::array<bool, 256> known{};          // false: a dump did not show the byte
    // An old single-function part that ignores the function number: it
    // answers (as function 0) on all eight of its device.
    bool every_function = false;
};

class Chipset
{
public:
    // Adds (or replaces) a function with the write and write-1-to-clear
    // masks pci/pci_access.h gives its bytes, every byte known.
    void add_function(Bdf at, const std::array<std::uint8_t, 256> &bytes, std::string name = "");
    void set_writable(Bdf at, unsigned reg, std::uint8_t mask);
    // Adds the functions of an "lspci -x/-xx/-xxx/-xxxx" dump as
    // pci_dump_read takes it (bytes not shown read 0 and are not known).
    // On a dump it refuses it adds nothing and returns false with
    // "line N: what" (N counted from 1).
    bool load_lspci(const std::string &text, std::string *error);

    // Makes the device of function `fn0` answer on every function number
    // (or, with `on` false, on its own functions only again).
    void answer_every_function(Bdf fn0, bool on = true);
    // A host bridge without Configuration Mechanism #1: 0xCF8 is no
    // register (reads FFFFFFFF) and no configuration cycle ever happens.
    void set_mechanism1(bool on) { mechanism1_ = on; }
    // A board whose 0xCF8 latches anything but where no configuration
    // cycle reaches a function: every read gives FF.
    void set_answering(bool on) { answering_ = on; }

    // The function that answers a configuration cycle for `at` now (a part
    // that ignores the function number answers everywhere as its function
    // 0); null when none does. peek and poke go the same way.
    const Function *function(Bdf at) const;
    // Where that function sits in functions(): its power-on place.
    bool place(Bdf at, Bdf *placed) const;
    bool present(Bdf at) const;
    std::uint8_t peek(Bdf at, unsigned reg) const; // 0xFF when absent
    void poke(Bdf at, unsigned reg, std::uint8_t value);
    // By power-on place.
    const std::map<Bdf, Function> &functions() const { return functions_; }

    // The I/O port side; width in bytes.
    std::uint32_t io_read(std::uint16_t port, unsigned width);
    void io_write(std::uint16_t port, unsigned width, std::uint32_t value);

    std::uint32_t config_address() const { return address_; }
    const std::vector<PortOp> &trace() const { return trace_; }
    void clear_trace() { trace_.clear(); }

private:
    std::uint8_t config_read(unsigned lane);
    void config_write(unsigned lane, std::uint8_t value);

    Function *find(Bdf at);
    // The power-on bus that a cycle for `bus` reaches; false when none.
    bool route(unsigned bus, unsigned *placed) const;

    std::map<Bdf, Function> functions_;
    // Power-on bus behind each bridge -> the bridge's own place.
    std::map<unsigned, Bdf> bridge_to_;
    bool mechanism1_ = true;
    bool answering_ = true;
    std::uint32_t address_ = 0;
    std::vector<PortOp> trace_;
};

// A Pentium II era board: 440BX host bridge 00:00.0, its AGP bridge 00:01.0,
// PIIX4 ISA bridge 00:07.0 and IDE 00:07.1 (00:07.2 absent), an AGP display
// adapter 01:00.0, an NE2000 card 00:0b.0 that answers on every function
// number, and a PCI-to-PCI bridge 00:0c.0 with a network card 02:04.0 behind it.
Chipset default_machine();

// The functions of an "lspci -x/-xx/-xxx/-xxxx" dump as pci_dump_read
// takes them; on a dump it refuses, false with "line N: what" (N counted
// from 1).
bool read_lspci(const std::string &text, std::vector<PciDumpFunction> *out, std::string *error);

// A bridge's bus numbers: the bus it sits on, the one behind it and the
// highest one behind it (PCI_PRIMARY_BUS to PCI_SUBORDINATE_BUS).
void set_bus_numbers(std::array<std::uint8_t, 256> &space, unsigned primary, unsigned secondary,
                     unsigned subordinate);

// The chipset that port_out32/port_in8/port_out8 of the host build reach.
Chipset &active_chipset();

} // namespace sim
