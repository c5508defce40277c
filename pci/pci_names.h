// The name of any byte of a function: the standard header's register,
// else the one its chipset's table gives, else "device-specific".
#pragma once

// `space` holds at least the function's first 16 bytes (IDs and header
// type). `what`, if not null, gets a few words on what the register does
// ("" where nobody wrote them).
const char *pci_byte_name(const unsigned char *space, unsigned offset, const char **what);
