// One hex digit's value: how every reader of hex text here (settings lines,
// dumps, command arguments) takes its digits. No C runtime, so the 9x
// programs can use it.
#pragma once

// A hex digit's value, or -1.
inline int pci_hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
