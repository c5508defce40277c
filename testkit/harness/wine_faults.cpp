// Telling Wine's own failures from the program's. A run that fails because
// Wine did ends with INFRASTRUCTURE_EXIT, the one status the test wiring
// retries on; everything else the program did stays a failure.
#include "harness.h"

#include <cstdio>

#include "internal.h"

namespace harness
{

using detail::ExclusiveLock;
using detail::SharedLock;

namespace
{

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

SRWLOCK g_fault_lock = SRWLOCK_INIT;
std::string g_fault;

void note_wine_fault(const std::string &why)
{
    ExclusiveLock l(&g_fault_lock);
    if (g_fault.empty())
        g_fault = why;
}

} // namespace

std::string detail::hex32(std::uint32_t v)
{
    char s[16];
    std::snprintf(s, sizeof s, "%08lx", static_cast<unsigned long>(v));
    return s;
}

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
    if (start_ok_ && !exited() && !detail::is_set(loader_seen_))
        return program_ + ": still starting, its entry point not reached";
    return "";
}

// A Session that ends while its program still starts leaves the fault for
// the test program to see.
void Session::judge_at_end()
{
    const std::string fault = wine_fault();
    if (!fault.empty())
        note_wine_fault(fault);
}

// A program that is there and still does not start: Wine failed.
void Session::judge_failed_start(DWORD create_error)
{
    if (GetFileAttributesA(program_.c_str()) != INVALID_FILE_ATTRIBUTES &&
        create_error != ERROR_BAD_EXE_FORMAT)
        note_fault("CreateProcessA failed, error " + std::to_string(create_error));
}

// The program's own code has not run before the loader's breakpoint: an end
// or a fault there is Wine's, unless the loader refused the image.
void Session::judge_exit(DWORD exit_code)
{
    if (!detail::is_set(loader_seen_) && !image_fault(exit_code))
        note_fault("ended with " + detail::hex32(exit_code) + " before its entry point");
}

void Session::judge_exception(DWORD code, std::uint32_t address)
{
    if (!detail::is_set(loader_seen_))
        note_fault("exception " + detail::hex32(code) + " at " + detail::hex32(address) +
                   " before its entry point");
}

} // namespace harness
