// What the harness's own files share; not for its users.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace harness::detail
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

// A flag one thread sets and another polls.
inline bool is_set(const volatile LONG &flag)
{
    return InterlockedCompareExchange(const_cast<volatile LONG *>(&flag), 0, 0) != 0;
}

// An address in the 32-bit debuggee, and back.
inline std::uint32_t address32(const void *p)
{
    return static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(p));
}
inline LPVOID pointer(std::uint32_t address)
{
    return reinterpret_cast<LPVOID>(static_cast<UINT_PTR>(address));
}

std::string hex32(std::uint32_t v);

} // namespace harness::detail
