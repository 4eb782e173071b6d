// Virtual and real time. Real time is reported in simulated milliseconds (real ones divided by
// the time scale), so that logs read the same whichever the scale.
#include "sim/internal.h"
#include "sim/lock.h"

#include <cmath>

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

namespace sim {
namespace detail {

#if defined(_WIN32)
// The creation time Windows keeps for the process, on the steady clock.
static std::chrono::steady_clock::time_point processStart() {
    const auto now = std::chrono::steady_clock::now();
    FILETIME created, exited, kernel, user, systemNow;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return now;
    GetSystemTimeAsFileTime(&systemNow);
    auto ticks = [](const FILETIME &f) {
        return static_cast<long long>((static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime);
    };
    const long long age = ticks(systemNow) - ticks(created);   // 100 ns units
    if (age <= 0) return now;
    return now - std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::nanoseconds(age * 100));
}
#else
// Linked into the program (kplx's simulator backend, the emulator): its static
// initialisation is the process's start, near enough.
static const std::chrono::steady_clock::time_point kLoadedAt = std::chrono::steady_clock::now();
static std::chrono::steady_clock::time_point processStart() { return kLoadedAt; }
#endif

static double realElapsedMs() {
    std::chrono::duration<double, std::milli> d = std::chrono::steady_clock::now() - state().realBase;
    return d.count();
}

static void sleepRealMs(double ms) {
    if (ms <= 0) return;
#if defined(_WIN32)
    // Sleep counts whole milliseconds and may add one: sleep short of the time, then yield
    // until it comes, as a read returns the moment its bytes are there.
    if (ms >= 2)
        Sleep(static_cast<DWORD>(ms) - 1);
    else
        SwitchToThread();
#else
    timespec t;
    t.tv_sec = static_cast<time_t>(ms / 1000.0);
    t.tv_nsec = static_cast<long>((ms - static_cast<double>(t.tv_sec) * 1000.0) * 1e6);
    nanosleep(&t, nullptr);
#endif
}

void waitUntil(double ms, Lock *held) {
    State &s = state();
    if (s.virtualClock) {
        if (ms > s.virtualNowMs) s.virtualNowMs = ms;
        return;
    }
    // Sleeps may come back early; go on until the clock has got there.
    for (double now = nowMs(); now < ms; now = nowMs()) {
        double scale = s.timeScale;
        if (held != nullptr) held->release();
        sleepRealMs((ms - now) * scale);
        if (held != nullptr) held->acquire();
    }
}

// Starts real time afresh from the current simulated time.
static void rebase(double simMs) {
    State &s = state();
    s.realBaseMs = simMs;
    s.realBase = std::chrono::steady_clock::now();
}

void startRealClockAtProcessStart() {
    State &s = state();
    s.virtualClock = false;
    s.realBaseMs = 0;
    s.realBase = processStart();
}

}  // namespace detail

using namespace detail;

void waitUntilMs(double ms) { waitUntil(ms); }

double nowMs() {
    const State &s = state();
    if (s.virtualClock) return s.virtualNowMs;
    return s.realBaseMs + realElapsedMs() / s.timeScale;
}

void useVirtualClock(bool virtualClock) {
    State &s = state();
    double now = nowMs();
    s.virtualClock = virtualClock;
    s.virtualNowMs = now;
    rebase(now);
}

void setTimeScale(double scale) {
    if (!(scale > 0)) return;
    double now = nowMs();
    state().timeScale = scale;
    rebase(now);
}

void setLink(const Link &link) {
    State &s = state();
    s.link = link;
    for (Device &d : s.devices) d.bridge.setTimed(link.enabled);
}

}  // namespace sim
