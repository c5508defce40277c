// VIA chipsets. VIA's datasheets title their registers ("Offset 61 - Shadow
// RAM Control 1") instead of giving mnemonics: the name here is that title,
// shortened. Cross-checked with Linux's VIA drivers and coreboot's VT8601
// (the VT82C693A's sibling with graphics) where they touch these registers.
#include "chipset_tables.h"

#define COUNT(a) int(sizeof(a) / sizeof(a[0]))

namespace
{

// VT82C693A (Apollo Pro Plus) / VT82C694X (Apollo Pro133A) host bridge.
// VIA VT82C693A and VT82C694X datasheets.
const PciRegisterName VT82C693A[] = {
    {0x58, 1, "DRAM MA Map 0", PCI_NOTE("DRAM MA map type, banks 0-3")},
    {0x59, 1, "DRAM MA Map 1", PCI_NOTE("DRAM MA map type, banks 4-7")},
    {0x5A, 1, "Bank 0 End", PCI_NOTE("DRAM bank 0 ending address")},
    {0x5B, 1, "Bank 1 End", PCI_NOTE("DRAM bank 1 ending address")},
    {0x5C, 1, "Bank 2 End", PCI_NOTE("DRAM bank 2 ending address")},
    {0x5D, 1, "Bank 3 End", PCI_NOTE("DRAM bank 3 ending address")},
    {0x5E, 1, "Bank 4 End", PCI_NOTE("DRAM bank 4 ending address")},
    {0x5F, 1, "Bank 5 End", PCI_NOTE("DRAM bank 5 ending address")},
    {0x60, 1, "DRAM Type", PCI_NOTE("DRAM type per bank pair: SDRAM/EDO")},
    {0x61, 1, "Shadow Ctl 1", PCI_NOTE("C0000-CFFFF shadow RAM read/write enable")},
    {0x62, 1, "Shadow Ctl 2", PCI_NOTE("D0000-DFFFF shadow RAM read/write enable")},
    {0x63, 1, "Shadow Ctl 3", PCI_NOTE("E0000-FFFFF shadow RAM, memory hole")},
    {0x64, 1, "DRAM Timing 0", PCI_NOTE("DRAM timing, banks 0 and 1")},
    {0x65, 1, "DRAM Timing 1", PCI_NOTE("DRAM timing, banks 2 and 3")},
    {0x66, 1, "DRAM Timing 2", PCI_NOTE("DRAM timing, banks 4 and 5")},
    {0x68, 1, "DRAM Control", PCI_NOTE("DRAM control: page mode, clocking")},
    {0x69, 1, "DRAM Clock", PCI_NOTE("DRAM clock select: page size")},
    {0x6A, 1, "Refresh Ctr", PCI_NOTE("DRAM refresh counter (0: refresh off)")},
    {0x6B, 1, "DRAM Arb", PCI_NOTE("DRAM arbitration: multi-page open")},
    {0x6C, 1, "SDRAM Control", PCI_NOTE("SDRAM command mode: NOP, MRS, normal")},
    {0x6D, 1, "DRAM Drive", PCI_NOTE("DRAM drive strength")},
    {0x70, 1, "PCI Buffer", PCI_NOTE("PCI buffer control")},
    {0x71, 1, "CPU-PCI Flow 1", PCI_NOTE("CPU to PCI flow control 1")},
    {0x72, 1, "CPU-PCI Flow 2", PCI_NOTE("CPU to PCI flow control 2")},
    {0x73, 1, "PCI Master 1", PCI_NOTE("PCI master control 1")},
    {0x74, 1, "PCI Master 2", PCI_NOTE("PCI master control 2")},
    {0x75, 1, "PCI Arb 1", PCI_NOTE("PCI arbitration 1")},
    {0x76, 1, "PCI Arb 2", PCI_NOTE("PCI arbitration 2")},
    {0x80, 4, "GART/TLB Ctl", PCI_NOTE("AGP GART/TLB control")},
    {0x84, 1, "Aperture Size", PCI_NOTE("AGP graphics aperture size")},
    {0x88, 4, "GA Table Base", PCI_NOTE("Aperture translation table base")},
};

// VT82C686A/B south bridge. VIA VT82C686A and VT82C686B datasheets.
const PciRegisterName VT82C686_ISA[] = {
    {0x55, 1, "PIRQA Route", PCI_NOTE("PIRQA# to IRQ (bits 7-4)")},
    {0x56, 1, "PIRQB/C Route", PCI_NOTE("PIRQB# (bits 3-0), PIRQC# (7-4) to IRQ")},
    {0x57, 1, "PIRQD Route", PCI_NOTE("PIRQD# to IRQ (bits 7-4)")},
};

const PciRegisterName VT82C686_IDE[] = {
    {0x40, 1, "IDE Enable", PCI_NOTE("IDE channel enable")},
    {0x41, 1, "IDE Config", PCI_NOTE("IDE configuration: prefetch, post")},
    {0x43, 1, "FIFO Config", PCI_NOTE("IDE FIFO configuration")},
    {0x44, 1, "Misc Control 1", PCI_NOTE("IDE miscellaneous control 1")},
    {0x45, 1, "Misc Control 2", PCI_NOTE("IDE miscellaneous control 2")},
    {0x46, 1, "Misc Control 3", PCI_NOTE("IDE miscellaneous control 3")},
    {0x48, 1, "Drive Timing", PCI_NOTE("Secondary slave data pulse/recovery")},
    {0x49, 1, "Drive Timing", PCI_NOTE("Secondary master data pulse/recovery")},
    {0x4A, 1, "Drive Timing", PCI_NOTE("Primary slave data pulse/recovery")},
    {0x4B, 1, "Drive Timing", PCI_NOTE("Primary master data pulse/recovery")},
    {0x4C, 1, "Address Setup", PCI_NOTE("Address setup time, all drives")},
    {0x4E, 1, "Port Timing", PCI_NOTE("Secondary command (8-bit) timing")},
    {0x4F, 1, "Port Timing", PCI_NOTE("Primary command (8-bit) timing")},
    {0x50, 1, "UDMA Timing", PCI_NOTE("Ultra DMA, secondary slave")},
    {0x51, 1, "UDMA Timing", PCI_NOTE("Ultra DMA, secondary master")},
    {0x52, 1, "UDMA Timing", PCI_NOTE("Ultra DMA, primary slave")},
    {0x53, 1, "UDMA Timing", PCI_NOTE("Ultra DMA, primary master")},
};

// UHCI registers every VIA USB function has.
const PciRegisterName VT82C686_USB[] = {
    {0x60, 1, "SBRN", PCI_NOTE("Serial bus release number")},
    {0xC0, 2, "Legacy Support", PCI_NOTE("Legacy support: keyboard/mouse SMI")},
};

const PciRegisterName VT82C686_PM[] = {
    {0x48, 4, "PM I/O Base", PCI_NOTE("Power management I/O base")},
    {0x70, 4, "HWM I/O Base", PCI_NOTE("Hardware monitor I/O base")},
    {0x74, 1, "HWM Control", PCI_NOTE("Hardware monitor enable")},
    {0x90, 4, "SMBus I/O Base", PCI_NOTE("SMBus I/O base")},
    {0xD2, 1, "SMBus Host Cfg", PCI_NOTE("SMBus host configuration, enable")},
};

} // namespace

extern const PciChipsetTable PCI_VIA_CHIPSETS[] = {
    {0x1106, 0x0691, "VIA VT82C693A/694X", "VIA VT82C693A, VT82C694X datasheets", VT82C693A,
     COUNT(VT82C693A)},
    {0x1106, 0x0686, "VIA VT82C686A/B ISA", "VIA VT82C686A/B datasheets", VT82C686_ISA,
     COUNT(VT82C686_ISA)},
    {0x1106, 0x0571, "VIA VT82C686A/B IDE", "VIA VT82C686A/B datasheets", VT82C686_IDE,
     COUNT(VT82C686_IDE)},
    {0x1106, 0x3038, "VIA VT82C686A/B USB", "VIA VT82C686A/B datasheets", VT82C686_USB,
     COUNT(VT82C686_USB)},
    {0x1106, 0x3057, "VIA VT82C686A/B power", "VIA VT82C686A/B datasheets", VT82C686_PM,
     COUNT(VT82C686_PM)},
};

extern const int PCI_VIA_CHIPSET_COUNT = COUNT(PCI_VIA_CHIPSETS);
