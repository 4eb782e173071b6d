// The host's side of a simulated device: what opening, closing and reading mean, whichever
// face (the D2XX entry points or the emulated USB bridge) the host comes through.
#include "sim/internal.h"

namespace sim {
namespace detail {

void openDevice(Device &d, bool alwaysReading) {
    d.opens += 1;
    d.calls.push_back("open");
    d.port = Port();
    d.port.open = true;
    const Link &link = state().link;
    d.bridge.reset(static_cast<uint8_t>(link.latencyMs), link.enabled, alwaysReading, nowMs());
}

void closeDevice(Device &d) {
    d.port.open = false;
    d.calls.push_back("close");
    d.bridge.advance(nowMs());
    noteDeliveries(d);
    d.bridge.reset(d.bridge.latency(), state().link.enabled, d.bridge.alwaysReading(), nowMs());
    writeOutputs();
}

void noteDeliveries(Device &d) {
    for (const auto &delivered : d.bridge.takeDelivered())
        if (delivered.first >= 0 && static_cast<size_t>(delivered.first) < d.frames.size())
            d.frames[static_cast<size_t>(delivered.first)].replyReadableMs = delivered.second;
}

size_t takeReadable(Device &d, uint8_t *buffer, size_t max, double nowMs, bool byPiece, bool &pieceEnded) {
    d.bridge.advance(nowMs);
    noteDeliveries(d);
    std::deque<Bridge::Byte> &host = d.bridge.host();
    size_t got = 0;
    pieceEnded = false;
    while (got < max && !host.empty() && host.front().atMs <= nowMs) {
        Bridge::Byte b = host.front();
        host.pop_front();
        buffer[got++] = b.value;
        if (byPiece && b.pieceEnd) {
            pieceEnded = true;
            break;
        }
    }
    return got;
}

}  // namespace detail
}  // namespace sim
