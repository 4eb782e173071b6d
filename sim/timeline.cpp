// Meters plugged in and pulled out while a client runs. Each device's timeline is applied
// lazily: every entry point (and the emulator's loop) first applies what is due by now.
#include "sim/internal.h"

#include <limits>

namespace sim {
namespace detail {

namespace {

constexpr double kNeverMs = std::numeric_limits<double>::infinity();

// A plug-in is a device met for the first time: nothing of the last plug-in carries over but
// the frame log and the log of calls.
void plugIn(Device &d, double atMs) {
    d.plugged = true;
    d.plugIns += 1;
    if (d.handle != 0) {
        // The client's handle stays the old plug-in's: it fails until closed.
        d.staleHandles.push_back(d.handle);
        d.handle = 0;
    }
    d.opens = 0;
    d.port = Port();
    const Link &link = state().link;
    d.bridge.reset(static_cast<uint8_t>(link.latencyMs), link.enabled, d.bridge.alwaysReading(), atMs);
    d.pending.clear();
    d.recording = false;
    d.complete = false;
    d.database.clear();
    d.framesAtPlugIn = d.frames.size();
    d.txLineFreeMs = atMs;
    d.rxLineFreeMs = atMs;
    d.calls.push_back("plug-in");
}

void pullOut(Device &d) {
    if (!d.plugged) return;   // unplug-at took it out already
    d.plugged = false;
    d.calls.push_back("pull-out");
}

}  // namespace

double nextPullOutMs(const Device &d) {
    const std::vector<PlugEvent> &t = d.config.timeline;
    for (size_t i = d.nextEvent; i < t.size(); ++i)
        if (!t[i].plugIn) return t[i].atMs;
    return kNeverMs;
}

void startTimeline(Device &d) {
    const std::vector<PlugEvent> &t = d.config.timeline;
    d.plugged = t.empty() || !t.front().plugIn;
    d.plugIns = d.plugged ? 1 : 0;
    d.nextEvent = 0;
    d.pullOutMs = nextPullOutMs(d);
}

void applyTimeline() {
    const double now = nowMs();
    bool changed = false;
    for (Device &d : state().devices) {
        const std::vector<PlugEvent> &t = d.config.timeline;
        if (d.nextEvent >= t.size() || t[d.nextEvent].atMs > now) continue;
        for (; d.nextEvent < t.size() && t[d.nextEvent].atMs <= now; ++d.nextEvent) {
            if (t[d.nextEvent].plugIn)
                plugIn(d, t[d.nextEvent].atMs);
            else
                pullOut(d);
        }
        d.pullOutMs = nextPullOutMs(d);
        changed = true;
    }
    // So that calls-out shows the plug-ins and pull-outs while the client still runs.
    if (changed) writeOutputs();
}

std::vector<std::pair<double, double>> presence(const DeviceConfig &config) {
    std::vector<std::pair<double, double>> spans;
    const std::vector<PlugEvent> &t = config.timeline;
    bool in = t.empty() || !t.front().plugIn;
    double from = 0;
    for (const PlugEvent &e : t) {
        if (e.plugIn && !in) {
            from = e.atMs;
            in = true;
        } else if (!e.plugIn && in) {
            spans.emplace_back(from, e.atMs);
            in = false;
        }
    }
    if (in) spans.emplace_back(from, kNeverMs);
    return spans;
}

}  // namespace detail

using namespace detail;

bool plugged(int index) {
    applyTimeline();
    device(index);   // throws for a device that does not exist
    return state().devices[static_cast<size_t>(index)].plugged;
}

int plugIns(int index) {
    applyTimeline();
    device(index);
    return state().devices[static_cast<size_t>(index)].plugIns;
}

std::string usbPort(int index) {
    const DeviceConfig &c = device(index);
    return c.usbPort.empty() ? "1-" + std::to_string(index + 1) : c.usbPort;
}

// Our own convention, in the spirit of what the D2XX library reports on Windows: one hex
// digit for the bus and for each port on the way (1-2.3: 0x123). Eight digits at most fill
// the 32 bits; a number above 15 has no digit.
uint32_t locationId(const std::string &usbPort) {
    const size_t dash = usbPort.find('-');
    if (dash == std::string::npos) return 0;
    // The bus, then each port: "1", "2", "3".
    std::string text = usbPort.substr(0, dash) + "." + usbPort.substr(dash + 1) + ".";
    uint32_t id = 0;
    int digits = 0;
    unsigned number = 0;
    size_t numberLength = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            number = number * 10 + static_cast<unsigned>(c - '0');
            if (number > 15) return 0;
            ++numberLength;
        } else if (c == '.' && numberLength > 0 && number > 0 && ++digits <= 8) {
            id = id << 4 | number;
            number = 0;
            numberLength = 0;
        } else {
            return 0;
        }
    }
    return digits >= 2 ? id : 0;
}

}  // namespace sim
