// googletest's Notification on a Win32 event: MinGW's win32 thread model has
// no std::mutex or std::condition_variable, which googletest's own version
// is built on. Force-included into googletest and its users.
#pragma once

#include <windows.h>

namespace testing
{
namespace internal
{

class Notification
{
public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification &) = delete;
    Notification &operator=(const Notification &) = delete;
    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

} // namespace internal
} // namespace testing
