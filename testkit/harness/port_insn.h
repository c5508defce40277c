// Decoding of the x86 port instructions that a user-level program may issue:
// IN/OUT with the port in DX or as an 8-bit immediate, 8, 16 or 32 bits wide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace harness
{

struct PortInsn {
    bool in;           // IN (port to accumulator) or OUT
    unsigned width;    // bytes: 1, 2 or 4
    bool imm;          // port is the immediate byte, not DX
    std::uint8_t port; // the immediate port when imm
    unsigned length;   // bytes of the whole instruction, prefixes included
};

// The instruction at the start of `code`, or nothing when it is not one of
// E4-E7 / EC-EF (segment, 66 and 67 prefixes allowed; REP and string forms
// are not port accesses this program makes).
std::optional<PortInsn> decode_port_insn(const std::uint8_t *code, std::size_t size);

// EAX after an IN of `width` bytes that read `value`: the bytes above the
// access keep what EAX held.
std::uint32_t merge_in(std::uint32_t eax, unsigned width, std::uint32_t value);

} // namespace harness
