// The debugger: starts the program with DEBUG_ONLY_THIS_PROCESS on a thread
// of its own and answers its debug events there, handing each exception to
// the concern it belongs to (the barrier's marker, a watched import, a port
// instruction); the rest of a Session reads the process from outside.
#include "harness.h"

#include <winternl.h>

#include <algorithm>

#include "internal.h"
#include "resource.h"

namespace harness
{

using detail::ExclusiveLock;
using detail::SharedLock;

namespace
{

// Short enough that a test waits little past the moment a condition holds.
constexpr DWORD POLL_MS = 5;

// CreateProcessA returns within a second or two even under qemu-user; one
// that has not after this long never will.
constexpr DWORD START_TIMEOUT_MS = 60000;

} // namespace

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
    judge_at_end();
    if (loop_thread_) {
        if (!exited())
            terminate(0xDEAD);
        WaitForSingleObject(loop_thread_, 10000);
        CloseHandle(loop_thread_);
    }
    if (started_)
        CloseHandle(started_);
    // The virtual PC ends with the session, and so does the marker of the
    // bytes a program left changed on it (one that was ended, or that
    // ended without its restore): the next session's PC is new.
    while (ATOM marker = GlobalFindAtomA(CHANGED_MARKER_NAME))
        if (GlobalDeleteAtom(marker) != 0) // 0: one reference gone
            break;
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
        judge_failed_start(create_error);
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
                image_base_ = detail::address32(ev.u.CreateProcessInfo.lpBaseOfImage);
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
            judge_exit(exit_code_);
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
    const bool first = ev.u.Exception.dwFirstChance != 0;
    const std::uint32_t address = detail::address32(rec.ExceptionAddress);
    if (first) {
        if ((rec.ExceptionCode == EXCEPTION_BREAKPOINT ||
             rec.ExceptionCode == EXCEPTION_SINGLE_STEP) &&
            marker_hit(ev.dwThreadId, address))
            return DBG_CONTINUE;
        if (rec.ExceptionCode == EXCEPTION_BREAKPOINT) {
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
        HANDLE thread = thread_handle(ev.dwThreadId);
        if ((rec.ExceptionCode == EXCEPTION_PRIV_INSTRUCTION ||
             rec.ExceptionCode == EXCEPTION_ILLEGAL_INSTRUCTION) &&
            thread) {
            if (emulate_ports_ && emulate(thread))
                return DBG_CONTINUE;
            if (!emulate_ports_ && !hand_on_port_fault(thread))
                note_fault("cannot hand the port fault on to the program");
        }
    }
    judge_exception(rec.ExceptionCode, address);
    ExclusiveLock l(&lock_);
    unhandled_.push_back({rec.ExceptionCode, address, first});
    return DBG_EXCEPTION_NOT_HANDLED;
}

// The one lookup of a thread's handle (debug loop only).
HANDLE Session::thread_handle(DWORD tid) const
{
    for (const auto &t : threads_)
        if (t.first == tid)
            return t.second;
    return nullptr;
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
    return detail::address32(info.PebBaseAddress);
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

bool Session::read_memory(std::uint32_t address, void *out, std::size_t size) const
{
    SIZE_T got = 0;
    return process_ && ReadProcessMemory(process_, detail::pointer(address), out, size, &got) &&
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
