#include "kplx/platform/interrupt.h"

#include <atomic>
#include <csignal>

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace kplx::platform {

namespace {

std::atomic<bool> requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

constexpr int kInterruptedExit = 130;

#if defined(_WIN32)
BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    if (requested.exchange(true))
        ExitProcess(kInterruptedExit);
    return TRUE;
}
#else
void onSignal(int)
{
    if (requested.exchange(true))
        _exit(kInterruptedExit);
}
#endif

}  // namespace

void watchInterrupts()
{
#if defined(_WIN32)
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

bool interrupted() { return requested.load(); }

}  // namespace kplx::platform
