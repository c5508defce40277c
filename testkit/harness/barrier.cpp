// The barrier: a marker posted to the program's thread, counted once the
// program's message loop dispatches it. Its WM_TIMER names a procedure that
// is a breakpoint in a page the harness gives the process, so the program's
// own window procedure never sees it.
#include "harness.h"

#include "internal.h"

namespace harness
{

namespace
{

// The marker procedure: a breakpoint, then the return of a WNDPROC (four
// stack arguments). Written once, before the program can run it.
const std::uint8_t MARKER_PROC[] = {0xCC, 0xC2, 0x10, 0x00};

} // namespace

// The marker procedure's breakpoint: count it and go on to its return. The
// context's Eip is set outright, whichever side of the int3 Wine (or
// qemu-user) reports it on.
bool Session::marker_hit(DWORD tid, std::uint32_t at)
{
    const auto proc = static_cast<std::uint32_t>(marker_proc_);
    if (!proc)
        return false;
    HANDLE thread = thread_handle(tid);
    CONTEXT ctx{};
    ctx.ContextFlags = CONTEXT_CONTROL;
    if (!thread || !GetThreadContext(thread, &ctx))
        return false;
    if ((at != proc && at != proc + 1) && (ctx.Eip != proc && ctx.Eip != proc + 1))
        return false;
    ctx.Eip = proc + 1;
    if (!SetThreadContext(thread, &ctx))
        return false;
    // The marker's number is the WNDPROC's wParam: [esp] is the return
    // address, then hwnd, message, wParam. Markers are dispatched in the
    // order posted, so one stands for every one before it, even one whose
    // window was gone.
    DWORD marker = 0;
    if (!read_memory(ctx.Esp + 12, &marker, sizeof marker))
        marker = static_cast<DWORD>(markers_seen_) + 1;
    if (static_cast<LONG>(marker) > markers_seen_)
        InterlockedExchange(&markers_seen_, static_cast<LONG>(marker));
    return true;
}

unsigned Session::post_marker(HWND window)
{
    if (!process_ || exited())
        return 0;
    if (!marker_proc_) {
        void *page = VirtualAllocEx(process_, nullptr, sizeof MARKER_PROC, MEM_COMMIT | MEM_RESERVE,
                                    PAGE_EXECUTE_READWRITE);
        SIZE_T written = 0;
        if (!page ||
            !WriteProcessMemory(process_, page, MARKER_PROC, sizeof MARKER_PROC, &written) ||
            written != sizeof MARKER_PROC)
            return 0;
        FlushInstructionCache(process_, page, sizeof MARKER_PROC);
        InterlockedExchange(&marker_proc_, static_cast<LONG>(detail::address32(page)));
    }
    const LONG n = markers_posted_ + 1;
    // DispatchMessage calls a WM_TIMER's lParam as its procedure.
    if (!PostMessageA(window, WM_TIMER, static_cast<WPARAM>(n), marker_proc_))
        return 0;
    markers_posted_ = n;
    return static_cast<unsigned>(n);
}

bool Session::marker_handled(unsigned marker) const
{
    return marker && static_cast<unsigned>(InterlockedCompareExchange(
                         const_cast<volatile LONG *>(&markers_seen_), 0, 0)) >= marker;
}

bool Session::barrier(HWND window, DWORD timeout_ms)
{
    const unsigned marker = post_marker(window);
    return marker && wait_until([&] { return marker_handled(marker) || exited(); }, timeout_ms) &&
           marker_handled(marker);
}

} // namespace harness
