#include "port_insn.h"

namespace harness
{

std::optional<PortInsn> decode_port_insn(const std::uint8_t *code, std::size_t size)
{
    bool opsize16 = false;
    std::size_t i = 0;
    // At most 15 bytes make an x86 instruction.
    for (; i < size && i < 15; ++i) {
        std::uint8_t b = code[i];
        if (b == 0x66)
            opsize16 = true;
        else if (b == 0x67 || b == 0x26 || b == 0x2E || b == 0x36 || b == 0x3E || b == 0x64 ||
                 b == 0x65)
            continue;
        else
            break;
    }
    if (i >= size)
        return std::nullopt;
    std::uint8_t op = code[i];
    PortInsn insn{};
    switch (op) {
    case 0xE4:
    case 0xE5:
    case 0xE6:
    case 0xE7:
        if (i + 1 >= size)
            return std::nullopt;
        insn.imm = true;
        insn.port = code[i + 1];
        insn.length = static_cast<unsigned>(i + 2);
        break;
    case 0xEC:
    case 0xED:
    case 0xEE:
    case 0xEF:
        insn.imm = false;
        insn.length = static_cast<unsigned>(i + 1);
        break;
    default:
        return std::nullopt;
    }
    insn.in = (op & 0x02) == 0;
    insn.width = (op & 0x01) == 0 ? 1 : opsize16 ? 2 : 4;
    return insn;
}

std::uint32_t merge_in(std::uint32_t eax, unsigned width, std::uint32_t value)
{
    switch (width) {
    case 1:
        return (eax & 0xFFFFFF00u) | (value & 0xFFu);
    case 2:
        return (eax & 0xFFFF0000u) | (value & 0xFFFFu);
    default:
        return value;
    }
}

} // namespace harness
