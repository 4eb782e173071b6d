// State shared by the simulator's parts. The entry points hold sim/lock.h's lock.
#pragma once

#include "sim/sim.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace sim {
namespace detail {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr double kEndlessReadMs = 60000.0;   // read timeout 0 waits this long at most
constexpr size_t kUsbPayload = 62;           // bridge-to-host packet, less two status bytes

// A reply byte on its way to the host.
struct RxByte {
    uint8_t value;
    double arrivedMs;    // in the bridge's buffer (what FT_Purge can discard)
    double readableMs;   // FT_Read can return it
    bool pieceEnd;       // a read stops after it (the pieces fault)
};

struct Device {
    DeviceConfig config;
    bool plugged = true;
    uintptr_t handle = 0;         // 0 while closed
    int opens = 0;                // successful FT_Open calls so far
    Port port;
    std::deque<RxByte> rx;
    // The meter's side.
    std::vector<uint8_t> pending;    // bytes of a frame not yet complete
    double pendingFirstByteMs = 0;
    bool recording = false;
    bool complete = false;
    std::vector<uint8_t> database;
    std::vector<FrameRecord> frames;
    double txLineFreeMs = 0;         // host-to-meter line busy until
    double rxLineFreeMs = 0;         // meter-to-host line busy until
};

struct State {
    std::deque<Device> devices;      // a deque keeps references stable while adding
    bool virtualClock = true;
    double timeScale = 1.0;
    double virtualNowMs = 0;
    double realBaseMs = 0;
    std::chrono::steady_clock::time_point realBase = std::chrono::steady_clock::now();
    Link link;
    std::vector<int> missingOrdinals;
    std::string configError;
    bool loaded = false;             // the DLL has read its configuration
};

State &state();
void ensureLoaded();                 // the DLL reads KPLX_SIM_CONFIG on first use

// Listing and handles.
int listedCount();
Device *listed(int listingIndex);
Device *byHandle(const void *handle);
uintptr_t newHandle();

class Lock;

// Clock. A real-clock wait lets go of `held` while it sleeps.
void waitUntil(double ms, Lock *held = nullptr);

// Meter: bytes the host wrote at writeMs reach the device.
void deliver(Device &device, const uint8_t *data, size_t size, double writeMs);

// Helpers for the configuration parser.
DeviceConfig numberedDefaults(Role role, int number);

}  // namespace detail
}  // namespace sim
