// Threads and a mutex for kplx. The MinGW compilers used here have no std::thread, so on
// Windows these sit on the Win32 calls; elsewhere on the standard library.
#pragma once

#include <functional>

#if defined(_WIN32)
#include <windows.h>
#else
#include <mutex>
#include <thread>
#endif

namespace kplx::platform {

// Runs `body` on a thread of its own; joined when destroyed, if not before.
class Thread {
public:
    explicit Thread(std::function<void()> body);
    ~Thread();
    Thread(const Thread &) = delete;
    Thread &operator=(const Thread &) = delete;

    void join();

private:
    std::function<void()> body_;
#if defined(_WIN32)
    HANDLE handle_ = nullptr;
    static unsigned __stdcall start(void *self);
#else
    std::thread thread_;
#endif
};

class Mutex {
public:
    Mutex();
    ~Mutex();
    Mutex(const Mutex &) = delete;
    Mutex &operator=(const Mutex &) = delete;
    void lock();
    void unlock();

private:
#if defined(_WIN32)
    CRITICAL_SECTION section_;
#else
    std::mutex mutex_;
#endif
};

class Locked {
public:
    explicit Locked(Mutex &m) : m_(m) { m_.lock(); }
    ~Locked() { m_.unlock(); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

private:
    Mutex &m_;
};

void sleepMs(unsigned ms);

}  // namespace kplx::platform
