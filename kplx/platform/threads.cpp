#include "kplx/platform/threads.h"

#if defined(_WIN32)
#include <process.h>
#else
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

Thread::Thread(std::function<void()> body) : body_(std::move(body)), thread_([this] { body_(); }) {}

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
