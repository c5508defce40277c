#include "pci_access.h"

#include "pci_bits.h"
#include "pci_header.h"

namespace
{

// Byte masks of the standard header, as Linux's pci_regs.h and QEMU's
// hw/pci/pci.c (pci_init_wmask, pci_init_w1cmask, pci_init_mask_bridge)
// give them.
const PciAccessBits RW = {0xFF, 0}, RO = {0, 0};
// Status, high byte: parity error, target and master aborts, system error,
// detected parity error; DEVSEL timing (bits 10-9) is read-only and the low
// byte has no such bit (QEMU pci_init_w1cmask: 0xF900). A bridge's
// secondary status (0x1E) has the same layout (pciutils' lspci decodes it
// with the status masks; Linux's EDAC clears its bits 8, 14 and 15 by
// writing them back); a CardBus bridge's (0x16) by the same layout only.
const PciAccessBits STATUS_HIGH = {0, 0xF9};

PciAccessBits common(const unsigned char *id, unsigned offset)
{
    switch (offset) {
    case 0x04:
        return RW;
    case 0x05: // bits 15-11 reserved
        return {0x07, 0};
    case 0x07:
        return STATUS_HIGH;
    case 0x0C: // cache line size
    case 0x0D: // latency timer
        return RW;
    case 0x0F: // BIST: only "start", and only where BIST is capable (bit 7)
        return {static_cast<unsigned char>(id[0x0F] & 0x80 ? 0x40 : 0), 0};
    }
    return RO; // IDs, status low byte, revision, class, header type
}

PciAccessBits ordinary(unsigned offset)
{
    if (offset < 0x28 || (offset >= 0x30 && offset < 0x34) || offset == 0x3C)
        return RW; // BARs, expansion ROM, interrupt line
    // CardBus CIS, subsystem IDs, capability pointer, reserved, interrupt
    // pin, MIN_GNT and MAX_LAT (QEMU's write mask leaves all of them out).
    return RO;
}

PciAccessBits bridge(unsigned offset)
{
    switch (offset) {
    case 0x1C: // I/O base and limit: bits 3-0 give the addressing width
    case 0x1D:
    case 0x20: // memory and prefetchable base and limit: bits 3-0 likewise
    case 0x22:
    case 0x24:
    case 0x26:
        return {0xF0, 0};
    case 0x1E:
        return RO;
    case 0x1F:
        return STATUS_HIGH;
    case 0x34: // capability pointer and reserved
    case 0x35:
    case 0x36:
    case 0x37:
    case 0x3D: // interrupt pin
        return RO;
    case 0x3F: // bridge control: discard timers (8, 9), SERR# on discard
               // (11); discard timer status (10) clears on a 1
        return {0x0B, 0x04};
    }
    return RW;
}

PciAccessBits cardbus(unsigned offset)
{
    switch (offset) {
    case 0x14: // capability pointer, reserved, secondary status low byte
    case 0x15:
    case 0x16:
    case 0x3D:
        return RO;
    case 0x17: // by the status layout; no source shows it for CardBus
        return STATUS_HIGH;
    case 0x3F: // bridge control bits 10-8; 15-11 reserved
        return {0x07, 0};
    }
    return RW;
}

} // namespace

PciAccessBits pci_header_bits(const unsigned char *id, unsigned offset)
{
    unsigned type = id[PCI_HEADER_TYPE];
    if (offset < 0x10)
        return common(id, offset);
    if (offset >= pci_header_end(type))
        return RW;
    switch (pci_header_layout(type)) {
    case 0:
        return ordinary(offset);
    case 1:
        return bridge(offset);
    case 2:
        return cardbus(offset);
    }
    return RW;
}

PciAccessBits pci_byte_access(const unsigned char *id, unsigned offset)
{
    if (offset < pci_header_end(id[PCI_HEADER_TYPE]))
        return pci_header_bits(id, offset);
    unsigned read_only = pci_flagged_bits(id, offset, PCI_BITS_READ_ONLY);
    unsigned clears = pci_flagged_bits(id, offset, PCI_BITS_WRITE1_CLEAR);
    return {static_cast<unsigned char>(~(read_only | clears)), static_cast<unsigned char>(clears)};
}

unsigned char pci_after_write(const unsigned char *id, unsigned offset, unsigned char old,
                              unsigned char value)
{
    PciAccessBits a = pci_byte_access(id, offset);
    unsigned kept = old & ~a.writable & ~(a.clears & value);
    return static_cast<unsigned char>((value & a.writable) | kept);
}
