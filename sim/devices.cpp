// The set of simulated devices: adding, listing, handles and what the tests read back.
#include "sim/internal.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace sim {
namespace detail {

State &state() {
    // Never destroyed: the DLL still writes its outputs at process detach.
    static State *s = new State();
    return *s;
}

int listedCount() {
    int n = 0;
    for (const Device &d : state().devices) n += d.plugged ? 1 : 0;
    return n;
}

Device *listed(int listingIndex) {
    if (listingIndex < 0) return nullptr;
    for (Device &d : state().devices) {
        if (!d.plugged) continue;
        if (listingIndex-- == 0) return &d;
    }
    return nullptr;
}

Device *byHandle(const void *handle) {
    if (handle == nullptr) return nullptr;
    for (Device &d : state().devices)
        if (d.handle != 0 && d.handle == reinterpret_cast<uintptr_t>(handle)) return &d;
    return nullptr;
}

Device *byStaleHandle(const void *handle) {
    if (handle == nullptr) return nullptr;
    for (Device &d : state().devices)
        for (uintptr_t h : d.staleHandles)
            if (h == reinterpret_cast<uintptr_t>(handle)) return &d;
    return nullptr;
}

uintptr_t newHandle() {
    // Never reused, so a handle kept from an earlier test or session stays invalid.
    static uintptr_t next = 0x5100;
    next += 0x10;
    return next;
}

DeviceConfig numberedDefaults(Role role, int number) {
    DeviceConfig c = defaultConfig(role);
    char serial[16];
    std::snprintf(serial, sizeof serial, "%s%06d", role == Role::meter ? "KP" : "FT", number % 1000000);
    c.eeprom.serialNumber = serial;
    return c;
}

void ensureLoaded() {
#if defined(_WIN32)
    State &s = state();
    if (s.loaded) return;
    s.loaded = true;
    if (!startFromEnvironment())
        std::fprintf(stderr, "Ftd2xx.dll (simulated): %s\n", s.configError.c_str());
#endif
}

}  // namespace detail

using namespace detail;

void reset() {
    State &s = state();
    bool loaded = s.loaded;
    s = State();
    s.loaded = loaded;
}

DeviceConfig defaultConfig(Role role) {
    DeviceConfig c;
    c.role = role;
    if (role == Role::cable) {
        c.eeprom.description = "FT232R USB UART";
        c.eeprom.serialNumber = "FT000001";
        c.eeprom.invertDtr = 0;
        c.eeprom.cbus4 = 1;
        c.version.clear();
    }
    return c;
}

int addDevice(const DeviceConfig &config) {
    State &s = state();
    s.devices.emplace_back();
    s.devices.back().config = config;
    startTimeline(s.devices.back());
    return static_cast<int>(s.devices.size()) - 1;
}

static Device &at(int index) {
    State &s = state();
    if (index < 0 || index >= static_cast<int>(s.devices.size())) throw std::out_of_range("sim: no such device");
    return s.devices[static_cast<size_t>(index)];
}

DeviceConfig &device(int index) { return at(index).config; }
void unplug(int index) { at(index).plugged = false; }
int deviceCount() { return static_cast<int>(state().devices.size()); }
const Port &port(int index) { return at(index).port; }
const std::vector<uint8_t> &receivedDatabase(int index) { return at(index).database; }
const std::vector<FrameRecord> &frames(int index) { return at(index).frames; }
bool databaseComplete(int index) { return at(index).complete; }
const std::string &configError() { return state().configError; }

void useDefaultConfig() {
    state().devices.clear();
    addDevice(defaultConfig(Role::meter));
}

bool startFromEnvironment() {
    reset();
    State &s = state();
    s.loaded = true;
    useVirtualClock(false);
    const char *path = std::getenv("KPLX_SIM_CONFIG");
    bool ok = true;
    if (path == nullptr || *path == '\0') {
        useDefaultConfig();
    } else if (!loadConfig(path)) {
        // No devices at all, so that a broken configuration cannot pass for a healthy meter.
        s.devices.clear();
        s.configError = std::string(path) + ": " + s.configError;
        ok = false;
    }
    // A timeline counts from the process's start, at the configured scale from the first moment.
    if (s.virtualClock)
        s.virtualNowMs = 0;
    else
        startRealClockAtProcessStart();
    return ok;
}

}  // namespace sim
