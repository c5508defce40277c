#include "chipset.h"

#include <algorithm>
#include <cstdio>

#include "conf1.h"
#include "pci_access.h"
#include "pci_dump.h"
#include "pci_header.h"

namespace sim
{

namespace
{

using Space = std::array<std::uint8_t, 256>;

void put16(Space &s, unsigned reg, unsigned v)
{
    s[reg] = static_cast<std::uint8_t>(v);
    s[reg + 1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(Space &s, unsigned reg, std::uint32_t v)
{
    put16(s, reg, v & 0xFFFF);
    put16(s, reg + 2, v >> 16);
}

Space header(unsigned vendor, unsigned device, unsigned command, unsigned status, unsigned rev,
             std::uint32_t class_code, unsigned header_type)
{
    Space s{};
    put16(s, 0x00, vendor);
    put16(s, 0x02, device);
    put16(s, 0x04, command);
    put16(s, 0x06, status);
    s[0x08] = static_cast<std::uint8_t>(rev);
    s[0x09] = static_cast<std::uint8_t>(class_code);
    s[0x0A] = static_cast<std::uint8_t>(class_code >> 8);
    s[0x0B] = static_cast<std::uint8_t>(class_code >> 16);
    s[0x0E] = static_cast<std::uint8_t>(header_type);
    return s;
}

// A card's subsystem IDs and its interrupt: pin INTA#, which the BIOS
// routed to `irq`.
void set_card(Space &s, std::uint32_t subsystem, unsigned irq)
{
    put32(s, 0x2C, subsystem);
    s[0x3C] = static_cast<std::uint8_t>(irq);
    s[0x3D] = 0x01;
}

} // namespace

void set_bus_numbers(Space &s, unsigned primary, unsigned secondary, unsigned subordinate)
{
    s[PCI_PRIMARY_BUS] = static_cast<std::uint8_t>(primary);
    s[PCI_SECONDARY_BUS] = static_cast<std::uint8_t>(secondary);
    s[PCI_SUBORDINATE_BUS] = static_cast<std::uint8_t>(subordinate);
}

std::string format(const PortOp &op)
{
    char text[40];
    if (op.dir == PortOp::Out)
        std::snprintf(text, sizeof text, "out%u %04x %0*x", op.width * 8u, op.port, op.width * 2,
                      op.value);
    else
        std::snprintf(text, sizeof text, "in%u %04x -> %0*x", op.width * 8u, op.port, op.width * 2,
                      op.value);
    return text;
}

std::string format(const Bdf &b)
{
    char text[PCI_SLOT_TEXT_MAX];
    pci_slot_text(text, b.bus, b.dev, b.fn);
    return text;
}

Target decode(std::uint32_t a, std::uint16_t data_port)
{
    Target t;
    t.enabled = (a & CONF1_ENABLE) != 0;
    t.bdf = {conf1_bus(a), conf1_device(a), conf1_function(a)};
    t.reg = conf1_register(a, data_port);
    return t;
}

void Chipset::add_function(Bdf at, const std::array<std::uint8_t, 256> &bytes, std::string name)
{
    Function f{std::move(name), bytes, {}};
    for (unsigned reg = 0; reg < 256; reg++) {
        PciAccessBits a = pci_byte_access(bytes.data(), reg);
        f.writable[reg] = a.writable;
        f.clears[reg] = a.clears;
        f.known[reg] = true;
    }
    functions_[at] = std::move(f);
    // Header type 1 (PCI-to-PCI) and 2 (CardBus) keep their secondary and
    // subordinate bus numbers at 0x19 and 0x1A.
    unsigned type = bytes[0x0E] & 0x7Fu;
    if ((type == 1 || type == 2) && bytes[0x19] != 0)
        bridge_to_.emplace(bytes[0x19], at);
}

bool Chipset::route(unsigned bus, unsigned *placed) const
{
    // Root buses: 0 and any bus that a dump shows without a bridge to it.
    // The host bridge reaches them by their number.
    std::vector<unsigned> buses{0};
    for (const auto &f : functions_)
        if (!bridge_to_.count(f.first.bus) && f.first.bus != buses.back())
            buses.push_back(f.first.bus);
    if (std::find(buses.begin(), buses.end(), bus) != buses.end()) {
        *placed = bus;
        return true;
    }
    // Any other number is a type-1 cycle. A bridge on a bus already reached
    // claims it only when secondary <= bus <= subordinate, so one whose
    // subordinate is below its secondary claims nothing; of what it claims,
    // its secondary bus becomes type 0 and a higher one goes on as type 1.
    // TI PCI2050B datasheet p. 3-4 (type 1 decode by registers 19h, 1Ah);
    // Intel 82443BX datasheet 3.2.2 (the AGP bridge routes by the same
    // mechanism); QEMU hw/pci/pci.c pci_secondary_bus_in_range.
    for (size_t i = 0; i < buses.size(); i++) {
        for (const auto &b : bridge_to_) {
            if (b.second.bus != buses[i])
                continue;
            const Space &bytes = functions_.at(b.second).bytes;
            if (bus < bytes[0x19] || bus > bytes[0x1A])
                continue;
            if (bus == bytes[0x19]) {
                *placed = b.first;
                return true;
            }
            if (std::find(buses.begin(), buses.end(), b.first) == buses.end())
                buses.push_back(b.first);
        }
    }
    return false;
}

void Chipset::set_writable(Bdf at, unsigned reg, std::uint8_t mask)
{
    if (Function *f = find(at))
        f->writable[reg & 0xFF] = mask;
}

void Chipset::answer_every_function(Bdf fn0, bool on)
{
    auto f = functions_.find(fn0);
    if (f != functions_.end() && fn0.fn == 0)
        f->second.every_function = on;
}

bool Chipset::place(Bdf at, Bdf *placed) const
{
    unsigned bus = 0;
    if (!route(at.bus, &bus))
        return false;
    Bdf p{bus, at.dev, at.fn};
    auto f = functions_.find(p);
    if (f == functions_.end()) {
        p.fn = 0;
        f = functions_.find(p);
        if (f == functions_.end() || !f->second.every_function)
            return false;
    }
    *placed = p;
    return true;
}

const Function *Chipset::function(Bdf at) const
{
    Bdf p{};
    return place(at, &p) ? &functions_.at(p) : nullptr;
}

Function *Chipset::find(Bdf at)
{
    return const_cast<Function *>(static_cast<const Chipset *>(this)->function(at));
}

bool read_lspci(const std::string &text, std::vector<PciDumpFunction> *out, std::string *error)
{
    // As many functions as the dump has slot lines, at most all that
    // configuration space can hold.
    size_t lines = 1;
    for (char c : text)
        lines += c == '\n' || c == '\r';
    out->resize(std::min<size_t>(lines, 256 * 256));
    PciDumpError e;
    int n = pci_dump_read(text.data(), static_cast<unsigned>(text.size()), out->data(),
                          static_cast<int>(out->size()), &e);
    if (n < 0) {
        if (error)
            *error = e.line ? "line " + std::to_string(e.line) + ": " + e.what : e.what;
        return false;
    }
    out->resize(static_cast<size_t>(n));
    return true;
}

bool Chipset::load_lspci(const std::string &text, std::string *error)
{
    std::vector<PciDumpFunction> found;
    if (!read_lspci(text, &found, error))
        return false;
    for (const PciDumpFunction &d : found) {
        std::array<std::uint8_t, 256> bytes;
        std::copy(d.bytes, d.bytes + 256, bytes.begin());
        Bdf at{d.bus, d.dev, d.fn};
        add_function(at, bytes, text.substr(d.name_at, d.name_length));
        for (unsigned reg = 0; reg < 256; reg++)
            functions_[at].known[reg] = pci_dump_known(d, reg);
    }
    return true;
}

bool Chipset::present(Bdf at) const
{
    return function(at) != nullptr;
}

std::uint8_t Chipset::peek(Bdf at, unsigned reg) const
{
    const Function *f = function(at);
    return f ? f->bytes[reg & 0xFF] : 0xFF;
}

void Chipset::poke(Bdf at, unsigned reg, std::uint8_t value)
{
    if (Function *f = find(at))
        f->bytes[reg & 0xFF] = value;
}

std::uint8_t Chipset::config_read(unsigned lane)
{
    Target t = decode(address_, static_cast<std::uint16_t>(CONFIG_DATA + lane));
    if (!t.enabled || !answering_)
        return 0xFF; // not a configuration cycle: nothing answers
    return peek(t.bdf, t.reg);
}

void Chipset::config_write(unsigned lane, std::uint8_t value)
{
    Target t = decode(address_, static_cast<std::uint16_t>(CONFIG_DATA + lane));
    Function *f = find(t.bdf);
    if (!t.enabled || !f || !answering_)
        return;
    std::uint8_t &b = f->bytes[t.reg];
    std::uint8_t mask = f->writable[t.reg];
    b = static_cast<std::uint8_t>(((b & ~mask) | (value & mask)) & ~(value & f->clears[t.reg]));
}

std::uint32_t Chipset::io_read(std::uint16_t port, unsigned width)
{
    std::uint32_t value = 0;
    if (port == CONFIG_ADDRESS && width == 4) {
        value = mechanism1_ ? address_ : 0xFFFFFFFFu;
    } else {
        for (unsigned i = 0; i < width; i++) {
            unsigned p = port + i;
            std::uint8_t b = 0xFF;
            if (mechanism1_ && p >= CONFIG_DATA && p <= CONFIG_DATA + 3u)
                b = config_read(p - CONFIG_DATA);
            value |= static_cast<std::uint32_t>(b) << (8 * i);
        }
    }
    trace_.push_back({PortOp::In, static_cast<std::uint8_t>(width), port, value});
    return value;
}

void Chipset::io_write(std::uint16_t port, unsigned width, std::uint32_t value)
{
    if (width < 4)
        value &= (1u << (8 * width)) - 1;
    trace_.push_back({PortOp::Out, static_cast<std::uint8_t>(width), port, value});
    if (!mechanism1_)
        return;
    // Only a full 32-bit write to 0xCF8 reaches CONFIG_ADDRESS; narrower ones
    // are ordinary I/O cycles that nothing here decodes.
    if (port == CONFIG_ADDRESS && width == 4) {
        address_ = value & CONF1_LATCHED;
        return;
    }
    for (unsigned i = 0; i < width; i++) {
        unsigned p = port + i;
        if (p >= CONFIG_DATA && p <= CONFIG_DATA + 3u)
            config_write(p - CONFIG_DATA, static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

// Cards in the PCI slots: what a bus scan must handle beyond the chipset.
static void add_late_devices(Chipset &c)
{
    // A Realtek RTL8029 (NE2000) card, single-function: like many early
    // parts it ignores the function number and answers on all eight.
    Space ne2k = header(0x10EC, 0x8029, 0x0003, 0x0200, 0x00, 0x020000, 0x00);
    put32(ne2k, 0x10, 0x0000E401);
    set_card(ne2k, 0x802910EC, 0x0A);
    c.add_function({0, 0x0B, 0}, ne2k, "Ethernet controller: Realtek RTL-8029(AS)");
    c.answer_every_function({0, 0x0B, 0});

    // A DEC 21152 PCI-to-PCI bridge to bus 2, for a riser with more slots.
    Space p2p = header(0x1011, 0x0024, 0x0107, 0x0280, 0x03, 0x060400, 0x01);
    p2p[0x0C] = 0x08;
    p2p[0x0D] = 0x20;
    set_bus_numbers(p2p, 0, 2, 2);
    p2p[0x1B] = 0x20;
    p2p[0x1C] = 0xD1; // I/O base and limit: D000-DFFF
    p2p[0x1D] = 0xD1;
    put16(p2p, 0x20, 0xE200);
    put16(p2p, 0x22, 0xE2F0);
    put16(p2p, 0x24, 0xFFF0); // no prefetchable window
    put16(p2p, 0x26, 0x0000);
    p2p[0x3E] = 0x03;
    c.add_function({0, 0x0C, 0}, p2p, "PCI bridge: DEC DECchip 21152 (rev 03)");

    // A 3Com 3C905B behind it.
    Space nic = header(0x10B7, 0x9055, 0x0007, 0x0210, 0x30, 0x020000, 0x00);
    put32(nic, 0x10, 0x0000D001);
    put32(nic, 0x14, 0xE2000000);
    set_card(nic, 0x905510B7, 0x09);
    nic[0x34] = 0xDC;
    nic[0x3E] = 0x0A;
    nic[0x3F] = 0x0A;
    nic[0xDC] = 0x01; // power management capability
    nic[0xDE] = 0x02;
    nic[0xDF] = 0xFE;
    c.add_function({2, 4, 0}, nic, "Ethernet controller: 3Com 3c905B 100BaseTX (rev 30)");
}

Chipset default_machine()
{
    Chipset c;

    // Intel 82443BX host bridge.
    Space host = header(0x8086, 0x7190, 0x0006, 0x2210, 0x03, 0x060000, 0x00);
    put32(host, 0x10, 0xE0000008); // aperture base
    host[0x34] = 0xA0;
    const std::uint8_t host_regs[] = {0x0C, 0x02, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00,  // 50
                                      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 58
                                      0x04, 0x08, 0x10, 0x18, 0x20, 0x20, 0x20, 0x20}; // 60
    for (unsigned i = 0; i < sizeof host_regs; i++)
        host[0x50 + i] = host_regs[i];
    host[0x57] = 0x01; // DRAM control
    host[0x67] = 0x00;
    host[0x7A] = 0x0A; // power management control
    c.add_function({0, 0, 0}, host, "Host bridge: Intel 440BX/ZX/DX host bridge (rev 03)");
    c.set_writable({0, 0, 0}, 0x7A, 0x0F); // upper nibble reserved

    // Its AGP bridge to bus 1.
    Space agp = header(0x8086, 0x7191, 0x0107, 0x0220, 0x03, 0x060400, 0x01);
    set_bus_numbers(agp, 0, 1, 1);
    agp[0x1B] = 0x40;
    put16(agp, 0x20, 0xE400);
    put16(agp, 0x22, 0xE5F0);
    put16(agp, 0x24, 0xE600);
    put16(agp, 0x26, 0xE7F0);
    agp[0x3E] = 0x88;
    c.add_function({0, 1, 0}, agp, "PCI bridge: Intel 440BX/ZX/DX AGP bridge (rev 03)");

    // PIIX4 ISA bridge (multi-function), then IDE. Function 2 (USB) is off.
    Space isa = header(0x8086, 0x7110, 0x000F, 0x0280, 0x02, 0x060100, 0x80);
    const std::uint8_t isa_regs[] = {0x4D, 0x00, 0xF2, 0x00, 0x00, 0x00, 0x00, 0x00,  // 4c
                                     0x00, 0x00, 0x00, 0x00, 0x0B, 0x0A, 0x80, 0x80}; // 54..
    for (unsigned i = 0; i < sizeof isa_regs; i++)
        isa[0x4C + i] = isa_regs[i];
    isa[0x69] = 0x02;
    isa[0x6A] = 0x04;
    isa[0x76] = 0x0C;
    isa[0x77] = 0x0C;
    isa[0xB0] = 0x04;
    isa[0xB1] = 0x20;
    c.add_function({0, 7, 0}, isa, "ISA bridge: Intel 82371AB/EB/MB PIIX4 ISA (rev 02)");

    Space ide = header(0x8086, 0x7111, 0x0005, 0x0280, 0x01, 0x01018A, 0x00);
    put32(ide, 0x20, 0x0000F001); // bus-master base
    ide[0x0D] = 0x40;
    put16(ide, 0x40, 0xA307); // primary timing
    put16(ide, 0x42, 0xA307); // secondary timing
    ide[0x48] = 0x05;         // Ultra DMA control
    put16(ide, 0x4A, 0x0202);
    c.add_function({0, 7, 1}, ide, "IDE interface: Intel 82371AB/EB/MB PIIX4 IDE (rev 01)");
    c.set_writable({0, 7, 1}, 0x48, 0x0F); // bits 7-4 reserved

    // A Matrox G200 AGP card behind the bridge.
    Space vga = header(0x102B, 0x0521, 0x0007, 0x02B0, 0x03, 0x030000, 0x00);
    put32(vga, 0x10, 0xE6000008);
    put32(vga, 0x14, 0xE5000000);
    set_card(vga, 0xFF03102B, 0x0B);
    vga[0x34] = 0xDC;
    put32(vga, 0x40, 0x41044121); // option register
    c.add_function({1, 0, 0}, vga, "VGA compatible controller: Matrox G200 AGP (rev 03)");

    add_late_devices(c);
    return c;
}

Chipset &active_chipset()
{
    static Chipset chipset = default_machine();
    return chipset;
}

} // namespace sim
