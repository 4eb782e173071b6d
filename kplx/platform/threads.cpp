#include "kplx/platform/threads.h"

#if defined(_WIN32)
#include <process.h>
#else
#include <signal.h>

#include <chrono>
#endif

namespace kplx::platform {

#if defined(_WIN32)

Thread::Thread(std::function<void()> body) : body_(std::move(body))
{
    handle_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &Thread::start, this, 0, nullptr));
    if (handle_ == nullptr)
        body_();   // no thread to be had: do the work here rather than not at all
}

unsigned __stdcall Thread::start(void *self)
{
    static_cast<Thread *>(self)->body_();
    return 0;
}

void Thread::join()
{
    if (handle_ == nullptr)
        return;
    WaitForSingleObject(handle_, INFINITE);
    CloseHandle(handle_);
    handle_ = nullptr;
}

Mutex::Mutex() { InitializeCriticalSection(&section_); }
Mutex::~Mutex() { DeleteCriticalSection(&section_); }
void Mutex::lock() { EnterCriticalSection(&section_); }
void Mutex::unlock() { LeaveCriticalSection(&section_); }

void sleepMs(unsigned ms) { Sleep(ms); }

#else

namespace {

// Blocks the signals kplx handles for as long as it lives, so that a thread started meanwhile
// inherits the block: they reach the main thread, and no meter's I/O call is cut short by one.
class SignalsBlocked {
public:
    SignalsBlocked()
    {
        sigset_t handled;
        sigemptyset(&handled);
        sigaddset(&handled, SIGINT);
        sigaddset(&handled, SIGHUP);
        sigaddset(&handled, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &handled, &old_);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalsBlocked(const SignalsBlocked &) = delete;
    SignalsBlocked &operator=(const SignalsBlocked &) = delete;

private:
    sigset_t old_;
};

std::thread startBlocked(std::function<void()> &body)
{
    SignalsBlocked blocked;
    return std::thread([&body] { body(); });
}

}  // namespace

Thread::Thread(std::function<void()> body) : body_(std::move(body)), thread_(startBlocked(body_)) {}

void Thread::join()
{
    if (thread_.joinable())
        thread_.join();
}

Mutex::Mutex() = default;
Mutex::~Mutex() = default;
void Mutex::lock() { mutex_.lock(); }
void Mutex::unlock() { mutex_.unlock(); }

void sleepMs(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

#endif

Thread::~Thread() { join(); }

}  // namespace kplx::platform
