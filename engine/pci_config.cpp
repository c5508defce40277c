#include "pci_config.h"

#include "conf1.h"
#include "port_io.h"

RegisterJournal g_journal;

std::uint32_t cfg_address(std::uint32_t reg, std::uint32_t device, std::uint32_t function)
{
    return conf1_address(0, device, function, reg);
}

std::uint16_t cfg_data_port(std::uint32_t reg)
{
    return conf1_data_port(reg);
}

JournalEntry journal_entry(int index)
{
    JournalEntry e = {g_journal.address[index], g_journal.previous[index], g_journal.port[index],
                      g_journal.written[index]};
    return e;
}

bool cfg_mechanism1_present()
{
    const std::uint32_t saved = port_in32(CONFIG_ADDRESS);
    port_out32(CONFIG_ADDRESS, CONF1_ENABLE);
    const bool present = port_in32(CONFIG_ADDRESS) == CONF1_ENABLE;
    port_out32(CONFIG_ADDRESS, saved);
    return present;
}

void cfg_read_record(std::uint32_t reg, std::uint32_t device, std::uint32_t function)
{
    std::uint32_t address = cfg_address(reg, device, function);
    std::uint16_t port = cfg_data_port(reg);
    port_out32(CONFIG_ADDRESS, address);
    std::uint8_t previous = port_in8(port);

    int i = g_journal.count;
    g_journal.address[i] = address;
    g_journal.previous[i] = previous;
    g_journal.port[i] = port;
    g_journal.count = i + 1;
}

void cfg_write_byte(std::uint32_t reg, std::uint32_t device, std::uint32_t function,
                    std::uint32_t value)
{
    // The address goes out again even if the last access selected it: the
    // pair must not depend on what ran before.
    port_out32(CONFIG_ADDRESS, cfg_address(reg, device, function));
    port_out8(cfg_data_port(reg), static_cast<std::uint8_t>(value));
}

void journal_restore()
{
    for (int i = g_journal.count - 1; i >= 0; i--) {
        port_out32(CONFIG_ADDRESS, g_journal.address[i]);
        port_out8(static_cast<std::uint16_t>(g_journal.port[i]),
                  static_cast<std::uint8_t>(g_journal.previous[i]));
    }
}

void journal_reapply()
{
    for (int i = 0; i < g_journal.count; i++) {
        port_out32(CONFIG_ADDRESS, g_journal.address[i]);
        port_out8(static_cast<std::uint16_t>(g_journal.port[i]),
                  static_cast<std::uint8_t>(g_journal.written[i]));
    }
}
