#include "harness.h"

#include <winternl.h>

#include <algorithm>
#include <cstdio>

#include "port_insn.h"

namespace harness
{

namespace
{

struct SharedLock {
    explicit SharedLock(SRWLOCK *l) : l_(l) { AcquireSRWLockShared(l_); }
    ~SharedLock() { ReleaseSRWLockShared(l_); }
    SRWLOCK *l_;
};

struct ExclusiveLock {
    explicit ExclusiveLock(SRWLOCK *l) : l_(l) { AcquireSRWLockExclusive(l_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(l_); }
    SRWLOCK *l_;
};

// Short enough that a test waits little past the moment a condition holds.
constexpr DWORD POLL_MS = 5;

// CreateProcessA returns within a second or two even under qemu-user; one
// that has not after this long never will.
constexpr DWORD START_TIMEOUT_MS = 60000;

// Loader statuses that are the program's own fault (a missing DLL or
// import, a broken image), not Wine's, though they end it before its entry.
bool image_fault(DWORD exit_code)
{
    switch (exit_code) {
    case 0xC0000135: // STATUS_DLL_NOT_FOUND
    case 0xC0000138: // STATUS_ORDINAL_NOT_FOUND
    case 0xC0000139: // STATUS_ENTRYPOINT_NOT_FOUND
    case 0xC000007B: // STATUS_INVALID_IMAGE_FORMAT
        return true;
    default:
        return false;
    }
}

std::string hex32(std::uint32_t v)
{
    char s[16];
    std::snprintf(s, sizeof s, "%08lx", static_cast<unsigned long>(v));
    return s;
}

SRWLOCK g_fault_lock = SRWLOCK_INIT;
std::string g_fault;

void note_wine_fault(const std::string &why)
{
    ExclusiveLock l(&g_fault_lock);
    if (g_fault.empty())
        g_fault = why;
}

// The marker procedure: a breakpoint, then the return of a WNDPROC (four
// stack arguments). Written once, before the program can run it.
const std::uint8_t MARKER_PROC[] = {0xCC, 0xC2, 0x10, 0x00};

bool is_set(const volatile LONG &flag)
{
    return InterlockedCompareExchange(const_cast<volatile LONG *>(&flag), 0, 0) != 0;
}

} // namespace

std::string wine_fault()
{
    SharedLock l(&g_fault_lock);
    return g_fault;
}

void clear_wine_fault()
{
    ExclusiveLock l(&g_fault_lock);
    g_fault.clear();
}

std::string windows_path(const std::string &path)
{
    std::string p = path;
    std::replace(p.begin(), p.end(), '/', '\\');
    if (p.size() >= 2 && p[1] == ':')
        return p;
    if (!p.empty() && p[0] == '\\')
        return "Z:" + p;
    return p;
}

bool wait_until(const std::function<bool()> &cond, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (cond())
            return true;
        if (GetTickCount() - start >= timeout_ms)
            return cond();
        Sleep(POLL_MS);
    }
}

Session::Session(std::string program, std::string workdir, sim::Chipset machine)
    : program_(windows_path(program)), workdir_(windows_path(workdir)), machine_(std::move(machine))
{
    machine_.clear_trace();
}

Session::~Session()
{
    std::string fault = wine_fault();
    if (!fault.empty())
        note_wine_fault(fault);
    if (loop_thread_) {
        if (!exited())
            terminate(0xDEAD);
        WaitForSingleObject(loop_thread_, 10000);
        CloseHandle(loop_thread_);
    }
    if (started_)
        CloseHandle(started_);
}

void Session::set_output(std::string out_file, std::string err_file)
{
    out_file_ = windows_path(out_file);
    err_file_ = windows_path(err_file);
}

// A new file the child inherits as a standard handle.
static HANDLE inheritable_file(const std::string &path)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool Session::start(std::string *error)
{
    started_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    loop_thread_ = CreateThread(nullptr, 0, LoopProc, this, 0, nullptr);
    if (!loop_thread_) {
        if (error)
            *error = "CreateThread failed";
        return false;
    }
    if (WaitForSingleObject(started_, START_TIMEOUT_MS) != WAIT_OBJECT_0) {
        note_fault("the process start did not return in " +
                   std::to_string(START_TIMEOUT_MS / 1000) + " s");
        if (error)
            *error = wine_fault();
        return false;
    }
    if (!start_ok_ && error)
        *error = start_error_;
    return start_ok_;
}

void Session::note_fault(const std::string &why)
{
    {
        ExclusiveLock l(&lock_);
        if (fault_.empty())
            fault_ = program_ + ": " + why;
    }
    note_wine_fault(program_ + ": " + why);
}

std::string Session::wine_fault() const
{
    {
        SharedLock l(&lock_);
        if (!fault_.empty())
            return fault_;
    }
    if (start_ok_ && !exited() && !is_set(loader_seen_))
        return program_ + ": still starting, its entry point not reached";
    return "";
}

DWORD WINAPI Session::LoopProc(LPVOID self)
{
    static_cast<Session *>(self)->loop();
    return 0;
}

void Session::loop()
{
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::string cmdline = "\"" + program_ + "\"";
    if (!arguments_.empty())
        cmdline += " " + arguments_;
    std::vector<char> buf(cmdline.begin(), cmdline.end());
    buf.push_back('\0');
    const bool redirect = !out_file_.empty();
    if (redirect) {
        si.dwFlags |= STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = inheritable_file(out_file_);
        si.hStdError = inheritable_file(err_file_);
    }
    BOOL created = CreateProcessA(program_.c_str(), buf.data(), nullptr, nullptr, redirect,
                                  DEBUG_ONLY_THIS_PROCESS, nullptr,
                                  workdir_.empty() ? nullptr : workdir_.c_str(), &si, &pi);
    DWORD create_error = GetLastError();
    if (redirect) {
        // The child has its own copies now; the files end with it.
        if (si.hStdOutput != INVALID_HANDLE_VALUE)
            CloseHandle(si.hStdOutput);
        if (si.hStdError != INVALID_HANDLE_VALUE)
            CloseHandle(si.hStdError);
    }
    if (!created) {
        start_error_ =
            "CreateProcessA(" + program_ + ") failed, error " + std::to_string(create_error);
        // A program that is there and still does not start: Wine failed.
        if (GetFileAttributesA(program_.c_str()) != INVALID_FILE_ATTRIBUTES &&
            create_error != ERROR_BAD_EXE_FORMAT)
            note_fault("CreateProcessA failed, error " + std::to_string(create_error));
        SetEvent(started_);
        return;
    }
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    start_ok_ = true;
    SetEvent(started_);

    for (;;) {
        DEBUG_EVENT ev;
        if (!WaitForDebugEvent(&ev, INFINITE))
            break;
        DWORD status = DBG_CONTINUE;
        switch (ev.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            if (ev.u.CreateProcessInfo.hFile)
                CloseHandle(ev.u.CreateProcessInfo.hFile);
            threads_.push_back({ev.dwThreadId, ev.u.CreateProcessInfo.hThread});
            {
                ExclusiveLock l(&lock_);
                image_base_ = static_cast<std::uint32_t>(
                    reinterpret_cast<UINT_PTR>(ev.u.CreateProcessInfo.lpBaseOfImage));
            }
            break;
        case CREATE_THREAD_DEBUG_EVENT:
            threads_.push_back({ev.dwThreadId, ev.u.CreateThread.hThread});
            break;
        case EXIT_THREAD_DEBUG_EVENT:
            threads_.erase(std::remove_if(threads_.begin(), threads_.end(),
                                          [&](const auto &t) { return t.first == ev.dwThreadId; }),
                           threads_.end());
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (ev.u.LoadDll.hFile)
                CloseHandle(ev.u.LoadDll.hFile);
            break;
        case EXCEPTION_DEBUG_EVENT:
            status = on_exception(ev);
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            exit_code_ = ev.u.ExitProcess.dwExitCode;
            if (!is_set(loader_seen_) && !image_fault(exit_code_))
                note_fault("ended with " + hex32(exit_code_) + " before its entry point");
            ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, DBG_CONTINUE);
            InterlockedExchange(&exited_, 1);
            return;
        default:
            break;
        }
        ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, status);
    }
}

DWORD Session::on_exception(const DEBUG_EVENT &ev)
{
    const EXCEPTION_RECORD &rec = ev.u.Exception.ExceptionRecord;
    bool first = ev.u.Exception.dwFirstChance != 0;
    if (first) {
        if ((rec.ExceptionCode == EXCEPTION_BREAKPOINT ||
             rec.ExceptionCode == EXCEPTION_SINGLE_STEP) &&
            marker_hit(ev))
            return DBG_CONTINUE;
        if (rec.ExceptionCode == EXCEPTION_BREAKPOINT) {
            auto address =
                static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(rec.ExceptionAddress));
            if (on_watched_call(ev.dwThreadId, address))
                return DBG_CONTINUE;
            // The loader's breakpoint that announces a debugged process:
            // every DLL is in and the imports are bound, the program's entry
            // point comes next.
            InterlockedExchange(&loader_seen_, 1);
            if (!redirected_ && !watches_.empty())
                redirect_imports();
            return DBG_CONTINUE;
        }
        // IN/OUT at user level raise #GP. Wine names it a privileged
        // instruction; under qemu-user the signal carries no trap number and
        // Wine calls it an illegal one.
        if (rec.ExceptionCode == EXCEPTION_PRIV_INSTRUCTION ||
            rec.ExceptionCode == EXCEPTION_ILLEGAL_INSTRUCTION) {
            HANDLE thread = thread_handle(ev.dwThreadId);
            if (thread && emulate_ports_ && emulate(thread))
                return DBG_CONTINUE;
            if (thread && !emulate_ports_ && !hand_on_port_fault(thread))
                note_fault("cannot hand the port fault on to the program");
        }
    }
    const auto address =
        static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(rec.ExceptionAddress));
    if (!is_set(loader_seen_))
        note_fault("exception " + hex32(rec.ExceptionCode) + " at " + hex32(address) +
                   " before its entry point");
    ExclusiveLock l(&lock_);
    unhandled_.push_back({rec.ExceptionCode, address, first});
    return DBG_EXCEPTION_NOT_HANDLED;
}

// The marker procedure's breakpoint: count it and go on to its return. The
// context's Eip is set outright, whichever side of the int3 Wine (or
// qemu-user) reports it on.
bool Session::marker_hit(const DEBUG_EVENT &ev)
{
    const auto proc = static_cast<std::uint32_t>(marker_proc_);
    if (!proc)
        return false;
    HANDLE thread = nullptr;
    for (const auto &t : threads_)
        if (t.first == ev.dwThreadId)
            thread = t.second;
    CONTEXT ctx{};
    ctx.ContextFlags = CONTEXT_CONTROL;
    if (!thread || !GetThreadContext(thread, &ctx))
        return false;
    const auto at = static_cast<std::uint32_t>(
        reinterpret_cast<UINT_PTR>(ev.u.Exception.ExceptionRecord.ExceptionAddress));
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
    SIZE_T got = 0;
    if (!ReadProcessMemory(process_, reinterpret_cast<LPCVOID>(static_cast<UINT_PTR>(ctx.Esp + 12)),
                           &marker, sizeof marker, &got) ||
        got != sizeof marker)
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
        InterlockedExchange(&marker_proc_, static_cast<LONG>(reinterpret_cast<UINT_PTR>(page)));
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
        if (!ReadProcessMemory(process_, reinterpret_cast<LPCVOID>(static_cast<UINT_PTR>(ctx.Eip)),
                               code, want, &got))
            got = 0;
    if (!decode_port_insn(code, got))
        return true; // not a port instruction: the program's fault as ever
    const std::uint32_t peb = peb_address();
    const BYTE none = 0; // BeingDebugged, the process block's third byte
    SIZE_T written = 0;
    return peb &&
           WriteProcessMemory(process_, reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(peb + 2)),
                              &none, 1, &written) &&
           written == 1;
}

bool Session::emulate(HANDLE thread)
{
    CONTEXT ctx{};
    ctx.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    if (!GetThreadContext(thread, &ctx))
        return false;
    std::uint8_t code[16];
    SIZE_T got = 0;
    // The instruction may end just before an unmapped page.
    for (SIZE_T want = sizeof code; want > 0 && got == 0; want /= 2)
        if (!ReadProcessMemory(process_, reinterpret_cast<LPCVOID>(static_cast<UINT_PTR>(ctx.Eip)),
                               code, want, &got))
            got = 0;
    auto insn = decode_port_insn(code, got);
    if (!insn)
        return false;
    std::uint16_t port = insn->imm ? insn->port : static_cast<std::uint16_t>(ctx.Edx & 0xFFFF);
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

HANDLE Session::thread_handle(DWORD tid) const
{
    for (const auto &t : threads_)
        if (t.first == tid)
            return t.second;
    return nullptr;
}

// Points each watched import's slot in the program's import address table
// at an INT3 of its own in a page of the program: the program's calls then
// stop here, and on_watched_call sends them on (or answers them). Calls the
// system makes inside its DLLs are not seen.
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
    const auto traps = static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(page));
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
                auto *p = reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(slot));
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

bool Session::exited() const
{
    return InterlockedCompareExchange(const_cast<volatile LONG *>(&exited_), 0, 0) != 0;
}

bool Session::wait_exit(DWORD timeout_ms, DWORD *exit_code)
{
    if (!wait_until([&] { return exited(); }, timeout_ms))
        return false;
    if (exit_code)
        *exit_code = exit_code_;
    return true;
}

void Session::terminate(UINT code)
{
    if (process_ && !exited())
        TerminateProcess(process_, code);
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

bool Session::wait_trace(std::size_t n, DWORD timeout_ms) const
{
    return wait_until([&] { return trace_size() >= n; }, timeout_ms);
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

std::vector<Exception> Session::unhandled() const
{
    SharedLock l(&lock_);
    return unhandled_;
}

bool Session::cpu_time(ULONGLONG *used) const
{
    FILETIME created, ended, kernel, user;
    if (!process_ || !GetProcessTimes(process_, &created, &ended, &kernel, &user))
        return false;
    auto value = [](const FILETIME &t) {
        return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    *used = value(kernel) + value(user);
    return true;
}

std::uint32_t Session::peb_address() const
{
    using Query = NTSTATUS(NTAPI *)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION info{};
    if (!process_ || !query ||
        query(process_, ProcessBasicInformation, &info, sizeof info, nullptr) != 0)
        return 0;
    return static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(info.PebBaseAddress));
}

bool Session::os_version(OsVersion *out) const
{
    // OSMajorVersion, OSMinorVersion, OSBuildNumber and OSPlatformId of a
    // 32-bit process block.
    const std::uint32_t peb = peb_address();
    std::uint32_t fields[4];
    if (!peb || !read_memory(peb + 0xA4, fields, sizeof fields))
        return false;
    *out = {fields[0], fields[1], fields[3]};
    return true;
}

std::uint32_t Session::image_base() const
{
    SharedLock l(&lock_);
    return image_base_;
}

bool Session::read_memory(std::uint32_t address, void *out, std::size_t size) const
{
    SIZE_T got = 0;
    return process_ &&
           ReadProcessMemory(process_, reinterpret_cast<LPCVOID>(static_cast<UINT_PTR>(address)),
                             out, size, &got) &&
           got == size;
}

std::string Session::read_string(std::uint32_t address) const
{
    std::string s;
    char c = 0;
    while (s.size() < 1024 && read_memory(address + static_cast<std::uint32_t>(s.size()), &c, 1) &&
           c)
        s += c;
    return s;
}

} // namespace harness
