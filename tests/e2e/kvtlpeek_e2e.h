// What the kvtlpeek.exe tests share: the tool, unmodified, under the harness
// on the virtual chipset (Wine reports Windows 98 for its file name), the
// promise of every mode that no configuration byte is written, and the
// machines and dumps the tests compare it with.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "e2e.h"
#include "trace.h"

namespace kvtlpeek_e2e
{

extern const char *const PEEK_EXE;
// A timeout for a run that reads a whole machine through one debug
// exception per port instruction, under qemu-user.
const DWORD RUN_MS = 300000;

struct PeekRun {
    DWORD code = 0xDEAD;
    std::string out, err;
    Trace trace;
};

e2e::Options peek_options(const sim::Chipset &machine, const std::string &args);

// One run of kvtlpeek.exe ARGS in a fresh directory `name`; `cfg`, if
// given, is kvtl.cfg there.
PeekRun peek(const std::string &name, const std::string &args, const sim::Chipset &machine,
             const std::optional<std::string> &cfg = std::nullopt);

// The promise of the tool: no write but a configuration address to 0xCF8,
// and no read beyond the configuration ports.
testing::AssertionResult read_only(const Trace &trace);

std::string hex2(unsigned v);

// The functions `listed` of `m`, in that order, as kvtlpeek dumps them:
// "lspci -n -xxx", or with `count` 64 "lspci -n -x".
std::string expected_dump(const sim::Chipset &m, const std::vector<sim::Bdf> &listed,
                          unsigned count);

// A function's configuration space: a bridge to `secondary_bus` for header
// type 1 or 2 (bit 7: more functions), above the header a pattern of the
// device ID.
std::array<std::uint8_t, 256> space(unsigned vendor, unsigned device, unsigned header_type,
                                    unsigned secondary_bus = 0);

} // namespace kvtlpeek_e2e
