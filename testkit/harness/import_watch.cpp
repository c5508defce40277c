// Watching the program's calls of chosen imports. At the loader's
// breakpoint each watched function's slot in the program's import address
// table is pointed at an INT3 of its own in a page of the program; a call
// then stops here, is logged, and goes on to the function or is answered
// with a faked result. Calls the system makes inside its DLLs are not seen.
#include "harness.h"

#include "internal.h"

namespace harness
{

using detail::ExclusiveLock;
using detail::SharedLock;

void Session::watch(const std::string &function, int arg_count)
{
    watches_.push_back({function, arg_count, 0, {}, 0});
}

void Session::fake_results(const std::string &function, const std::vector<std::uint32_t> &results,
                           std::size_t after)
{
    ExclusiveLock l(&lock_);
    for (auto &w : watches_)
        if (w.function == function) {
            w.fakes.insert(w.fakes.end(), results.begin(), results.end());
            w.real = after;
        }
}

std::vector<Call> Session::calls(const std::string &function) const
{
    SharedLock l(&lock_);
    std::vector<Call> out;
    for (const auto &c : calls_)
        if (function.empty() || c.function == function)
            out.push_back(c);
    return out;
}

bool Session::watching(std::string *error) const
{
    SharedLock l(&lock_);
    if (error)
        *error = watch_error_;
    return redirected_ && watch_error_.empty();
}

void Session::redirect_imports()
{
    std::string error;
    std::vector<std::uint32_t> targets(watches_.size(), 0);
    const std::uint32_t base = image_base_;
    IMAGE_DOS_HEADER dos;
    IMAGE_NT_HEADERS32 nt;
    void *page =
        VirtualAllocEx(process_, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    std::vector<std::uint8_t> int3(2 * watches_.size(), 0xCC);
    const auto traps = detail::address32(page);
    if (!read_memory(base, &dos, sizeof dos) || !read_memory(base + dos.e_lfanew, &nt, sizeof nt))
        error = "cannot read the program's headers";
    else if (!page || !WriteProcessMemory(process_, page, int3.data(), int3.size(), nullptr))
        error = "cannot place the traps";
    const auto &dir = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (std::uint32_t at = base + dir.VirtualAddress; error.empty();
         at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR desc;
        if (!read_memory(at, &desc, sizeof desc) || !desc.Name)
            break;
        // The name table: the address table holds addresses by now.
        const std::uint32_t names = desc.OriginalFirstThunk;
        for (std::uint32_t i = 0; names && error.empty(); ++i) {
            std::uint32_t name_rva = 0, slot_value = 0;
            if (!read_memory(base + names + 4 * i, &name_rva, 4) || !name_rva)
                break;
            if (name_rva & IMAGE_ORDINAL_FLAG32)
                continue;
            const std::string name = read_string(base + name_rva + 2);
            for (std::size_t w = 0; w < watches_.size(); ++w) {
                if (watches_[w].function != name)
                    continue;
                const std::uint32_t slot = base + desc.FirstThunk + 4 * i;
                const std::uint32_t trap = traps + 2 * static_cast<std::uint32_t>(w);
                LPVOID p = detail::pointer(slot);
                DWORD old = 0;
                if (!read_memory(slot, &slot_value, 4) || slot_value == name_rva)
                    error = "the imports are not bound at the loader's breakpoint";
                else if (!VirtualProtectEx(process_, p, 4, PAGE_READWRITE, &old) ||
                         !WriteProcessMemory(process_, p, &trap, 4, nullptr))
                    error = "cannot redirect " + name;
                else
                    VirtualProtectEx(process_, p, 4, old, &old);
                targets[w] = slot_value;
            }
        }
    }
    // A function the program does not import is an error of the caller's,
    // but the other watches still work.
    const bool trapped = error.empty();
    for (std::size_t w = 0; w < watches_.size() && error.empty(); ++w)
        if (!targets[w])
            error = "the program does not import " + watches_[w].function;
    ExclusiveLock l(&lock_);
    for (std::size_t w = 0; w < watches_.size(); ++w)
        watches_[w].target = targets[w];
    traps_ = trapped ? traps : 0;
    watch_error_ = error;
    redirected_ = true;
}

// A watched call stops at its trap (Wine may report the INT3's address or
// the next byte; each trap has two). The first six arguments are logged,
// then the call goes on to the function, or returns the faked result to its
// caller as a stdcall function would.
bool Session::on_watched_call(DWORD tid, std::uint32_t address)
{
    if (!traps_ || address < traps_ || address >= traps_ + 2 * watches_.size())
        return false;
    HANDLE thread = thread_handle(tid);
    CONTEXT ctx{};
    ctx.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    std::uint32_t stack[7] = {};
    if (!thread || !GetThreadContext(thread, &ctx) || !read_memory(ctx.Esp, stack, sizeof stack))
        return false;
    ExclusiveLock l(&lock_);
    Watch &w = watches_[(address - traps_) / 2];
    Call call{w.function,
              {stack[1], stack[2], stack[3], stack[4], stack[5], stack[6]},
              !w.real && !w.fakes.empty()};
    if (w.real)
        w.real--;
    if (call.faked) {
        ctx.Eax = w.fakes.front();
        w.fakes.erase(w.fakes.begin());
        ctx.Eip = stack[0];
        ctx.Esp += 4 + 4 * w.arg_count;
    } else {
        ctx.Eip = w.target;
    }
    calls_.push_back(call);
    return SetThreadContext(thread, &ctx) != FALSE;
}

} // namespace harness
