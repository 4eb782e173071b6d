// A client may load several meters at once, one thread each: one lock guards all of the
// simulator's state. A read lets go of it while it waits, so that other devices go on.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <mutex>
#endif

namespace sim {
namespace detail {

class Lock {
public:
    Lock() { acquire(); }
    ~Lock() { if (held_) unlock(); }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

    void release() { unlock(); held_ = false; }
    void acquire() { lock(); held_ = true; }

private:
#if defined(_WIN32)
    // Statically initialised: no construction order or thread-safe static to rely on.
    static SRWLOCK &srw() { static SRWLOCK l = SRWLOCK_INIT; return l; }
    static void lock() { AcquireSRWLockExclusive(&srw()); }
    static void unlock() { ReleaseSRWLockExclusive(&srw()); }
#else
    static std::mutex &m() { static std::mutex l; return l; }
    static void lock() { m().lock(); }
    static void unlock() { m().unlock(); }
#endif
    bool held_ = false;
};

}  // namespace detail
}  // namespace sim
