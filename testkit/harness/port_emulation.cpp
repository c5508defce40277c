// Port instructions on the virtual chipset. IN/OUT at user level raise #GP;
// the debug loop hands the faulting thread here, which decodes the
// instruction at Eip, carries it out on the chipset (every operation lands
// in its trace) and moves Eip past it.
#include "harness.h"

#include <cstddef>

#include "internal.h"
#include "port_insn.h"

namespace harness
{

using detail::ExclusiveLock;
using detail::SharedLock;

void Session::refuse_ports(std::uint16_t first, std::uint16_t last)
{
    refused_first_ = first;
    refused_last_ = last;
    watch("SetUnhandledExceptionFilter", 1);
}

// What the system does with a fault no handler of the thread takes and no
// debugger sees: it calls the top-level filter on the faulting thread's
// stack. The frame below the stack pointer holds the filter's return
// address (0: a filter that returns faults there, and the debugger ends
// the process), its argument, the EXCEPTION_POINTERS, the record and the
// registers at the fault.
bool Session::raise_in_program(HANDLE thread, CONTEXT ctx)
{
    std::uint32_t filter = 0;
    {
        ExclusiveLock l(&lock_);
        for (const auto &c : calls_)
            if (c.function == "SetUnhandledExceptionFilter")
                filter = c.args[0];
        unhandled_.push_back({EXCEPTION_PRIV_INSTRUCTION, ctx.Eip, true});
    }
    if (!filter)
        return TerminateProcess(process_, EXCEPTION_PRIV_INSTRUCTION) != FALSE;
    struct Frame {
        std::uint32_t return_address, argument;
        std::uint32_t record_address, context_address; // EXCEPTION_POINTERS
        EXCEPTION_RECORD record;
        CONTEXT context;
    } frame{};
    const std::uint32_t at = (ctx.Esp - 256 - sizeof frame) & ~15u;
    frame.argument = at + offsetof(Frame, record_address);
    frame.record_address = at + offsetof(Frame, record);
    frame.context_address = at + offsetof(Frame, context);
    frame.record.ExceptionCode = EXCEPTION_PRIV_INSTRUCTION;
    frame.record.ExceptionAddress = detail::pointer(ctx.Eip);
    frame.context = ctx;
    SIZE_T written = 0;
    if (!WriteProcessMemory(process_, detail::pointer(at), &frame, sizeof frame, &written) ||
        written != sizeof frame)
        return false;
    ctx.Esp = at;
    ctx.Eip = filter;
    return SetThreadContext(thread, &ctx) != FALSE;
}

bool Session::emulate(HANDLE thread)
{
    CONTEXT ctx{};
    ctx.ContextFlags = CONTEXT_FULL;
    if (!GetThreadContext(thread, &ctx))
        return false;
    std::uint8_t code[16];
    SIZE_T got = 0;
    // The instruction may end just before an unmapped page.
    for (SIZE_T want = sizeof code; want > 0 && got == 0; want /= 2)
        if (!ReadProcessMemory(process_, detail::pointer(ctx.Eip), code, want, &got))
            got = 0;
    auto insn = decode_port_insn(code, got);
    if (!insn)
        return false;
    std::uint16_t port = insn->imm ? insn->port : static_cast<std::uint16_t>(ctx.Edx & 0xFFFF);
    if (port <= refused_last_ && port + insn->width - 1 >= refused_first_)
        return raise_in_program(thread, ctx);
    {
        ExclusiveLock l(&lock_);
        if (insn->in)
            ctx.Eax = merge_in(ctx.Eax, insn->width, machine_.io_read(port, insn->width));
        else
            machine_.io_write(port, insn->width, ctx.Eax);
    }
    ctx.Eip += insn->length;
    return SetThreadContext(thread, &ctx) != FALSE;
}

// Without a debugger the system calls the program's top-level exception
// filter; with one it leaves the fault to the debugger. So the flag goes,
// for a refused port instruction only.
bool Session::hand_on_port_fault(HANDLE thread)
{
    CONTEXT ctx{};
    ctx.ContextFlags = CONTEXT_CONTROL;
    std::uint8_t code[16];
    SIZE_T got = 0;
    if (!GetThreadContext(thread, &ctx))
        return false;
    for (SIZE_T want = sizeof code; want > 0 && got == 0; want /= 2)
        if (!ReadProcessMemory(process_, detail::pointer(ctx.Eip), code, want, &got))
            got = 0;
    if (!decode_port_insn(code, got))
        return true; // not a port instruction: the program's fault as ever
    const std::uint32_t peb = peb_address();
    const BYTE none = 0; // BeingDebugged, the process block's third byte
    SIZE_T written = 0;
    return peb && WriteProcessMemory(process_, detail::pointer(peb + 2), &none, 1, &written) &&
           written == 1;
}

std::vector<sim::PortOp> Session::trace() const
{
    SharedLock l(&lock_);
    return machine_.trace();
}

std::vector<std::string> Session::trace_lines() const
{
    std::vector<std::string> lines;
    for (const auto &op : trace())
        lines.push_back(sim::format(op));
    return lines;
}

std::size_t Session::trace_size() const
{
    SharedLock l(&lock_);
    return machine_.trace().size();
}

std::uint8_t Session::peek(sim::Bdf at, unsigned reg) const
{
    SharedLock l(&lock_);
    return machine_.peek(at, reg);
}

void Session::poke(sim::Bdf at, unsigned reg, std::uint8_t value)
{
    ExclusiveLock l(&lock_);
    machine_.poke(at, reg, value);
}

sim::Chipset Session::machine() const
{
    SharedLock l(&lock_);
    return machine_;
}

} // namespace harness
