#include "kplx/platform/interrupt.h"

#include <cerrno>
#include <csignal>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#endif

namespace kplx::platform {

namespace {

std::atomic<bool> stopRequested{false};
std::atomic<bool> abandonRequested{false};
std::atomic<int> firstCause{static_cast<int>(StopCause::none)};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "set from a signal handler");

// A Ctrl-C while a stop is already under way, whatever asked for it, gives up the wait.
void onInterrupt()
{
    if (stopRequested.load())
        abandonRequested = true;
    requestStop(StopCause::interrupt);
}

#if defined(_WIN32)

HANDLE settledEvent = nullptr;   // set by settled(); a console close waits for it

bool waitSettled(unsigned ms)
{
    if (settledEvent == nullptr) {
        Sleep(ms);
        return false;
    }
    return WaitForSingleObject(settledEvent, ms) == WAIT_OBJECT_0;
}

// Runs on a thread of its own that Windows starts for the event. Returning from a close,
// logoff or shutdown event lets Windows end the process, so that handler returns only once
// the command has settled or its time is up.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        onInterrupt();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        answerConsoleClose(StopCause::consoleClosed, waitSettled);
        return TRUE;
    default:
        return FALSE;
    }
}

#else

void onSignal(int signal)
{
    const int saved = errno;
    if (signal == SIGINT)
        onInterrupt();
    else
        requestStop(signal == SIGHUP ? StopCause::hangup : StopCause::terminate);
    errno = saved;
}

void handle(int signal, bool keepIgnored)
{
    struct sigaction old = {};
    if (keepIgnored && sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
        return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;   // a write to the terminal goes on rather than failing with EINTR
    sigaction(signal, &action, nullptr);
}

#endif

}  // namespace

void requestStop(StopCause cause)
{
    int none = static_cast<int>(StopCause::none);
    firstCause.compare_exchange_strong(none, static_cast<int>(cause));
    stopRequested = true;
}

bool answerConsoleClose(StopCause cause, const std::function<bool(unsigned ms)> &waitSettled, const CloseBudget &budget)
{
    requestStop(cause);
    if (waitSettled(budget.finishFrameMs))
        return true;
    abandonRequested = true;
    return waitSettled(budget.afterAbandonMs);
}

void watchInterrupts()
{
#if defined(_WIN32)
    settledEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    // An inherited ignore is the parent's choice (nohup, a background job); a blocked mask
    // would only hide the very signals that must put the bridges back.
    handle(SIGINT, true);
    handle(SIGHUP, true);
    handle(SIGTERM, false);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGHUP);
    sigaddset(&handled, SIGTERM);
    sigprocmask(SIG_UNBLOCK, &handled, nullptr);
#endif
}

bool interrupted() { return stopRequested.load(); }
bool abandoning() { return abandonRequested.load(); }
const std::atomic<bool> &stopFlag() { return stopRequested; }
const std::atomic<bool> &abandonFlag() { return abandonRequested; }
StopCause stopCause() { return static_cast<StopCause>(firstCause.load()); }

void settled()
{
#if defined(_WIN32)
    if (settledEvent != nullptr)
        SetEvent(settledEvent);
#endif
}

}  // namespace kplx::platform
