// State shared by the simulator's parts. The entry points hold sim/lock.h's lock.
#pragma once

#include "sim/bridge.h"
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

struct Device {
    DeviceConfig config;
    bool plugged = true;
    uintptr_t handle = 0;         // 0 while closed
    std::vector<uintptr_t> staleHandles;   // open on an earlier plug-in and not yet closed
    int opens = 0;                // successful FT_Open calls since the plug-in
    // The timeline.
    int plugIns = 0;
    size_t nextEvent = 0;         // the timeline's first event not yet applied
    size_t framesAtPlugIn = 0;    // frames received before this plug-in: fault numbers count from here
    double pullOutMs = 0;         // when the timeline next pulls it out (infinity: never)
    Port port;
    Bridge bridge;                   // the reply bytes on their way to the host
    // The meter's side.
    std::vector<uint8_t> pending;    // bytes of a frame not yet complete
    double pendingFirstByteMs = 0;
    bool recording = false;
    bool complete = false;
    std::vector<uint8_t> database;
    std::vector<FrameRecord> frames;
    std::vector<std::string> calls;  // "open", "latency N", "close", in order (calls-out)
    double txLineFreeMs = 0;         // host-to-meter line busy until
    double rxLineFreeMs = 0;         // meter-to-host line busy until
};

// An entry of the list FT_CreateDeviceInfoList makes and FT_GetDeviceInfoDetail reads.
struct InfoNode {
    uint32_t flags = 0;
    uint32_t type = 0;
    uint32_t id = 0;
    uint32_t locId = 0;
    std::string serial;
    std::string description;
    uintptr_t handle = 0;
};

struct State {
    std::deque<Device> devices;      // a deque keeps references stable while adding
    std::vector<InfoNode> infoList;  // as the last FT_CreateDeviceInfoList found the devices
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
Device *byStaleHandle(const void *handle);   // open on an earlier plug-in of its device
uintptr_t newHandle();

// The timeline: plug-ins and pull-outs due by nowMs, applied lazily by every entry point.
void startTimeline(Device &device);          // present or absent, as its first event says
void applyTimeline();
double nextPullOutMs(const Device &device);  // the next pull-out of the current plug-in
// Where each device is present: [from, to) intervals (to: infinity), by its timeline alone.
std::vector<std::pair<double, double>> presence(const DeviceConfig &config);

class Lock;

// Clock. A real-clock wait lets go of `held` while it sleeps.
void waitUntil(double ms, Lock *held = nullptr);
// The real clock counts from the process's start (when the simulator is linked in, its start;
// on Windows the creation time the system keeps).
void startRealClockAtProcessStart();

// Meter: bytes the host wrote at writeMs reach the device.
void deliver(Device &device, const uint8_t *data, size_t size, double writeMs);

// The host's side of a device, shared by the D2XX entry points and the emulated USB bridge.
// `alwaysReading`: the D2XX face, whose driver keeps a read pending; the emulated USB bridge
// is read only when libusb asks.
void openDevice(Device &device, bool alwaysReading);   // the port's and the bridge's defaults; counts the open
void closeDevice(Device &device);   // and writes the outputs
// Records when each reply that has reached the host got there.
void noteDeliveries(Device &device);
// Moves up to `max` bytes the host can read at nowMs into `buffer`; with `byPiece`, stops after
// the end of a piece (the pieces fault). `pieceEnded` tells whether it did.
size_t takeReadable(Device &device, uint8_t *buffer, size_t max, double nowMs, bool byPiece, bool &pieceEnded);

// Helpers for the configuration parser.
DeviceConfig numberedDefaults(Role role, int number);

}  // namespace detail
}  // namespace sim
