// The FT232R between the meter and the host, as far as timing goes. Bytes from the meter enter
// the chip's buffer as they arrive off the wire; the chip sends them to the host in USB packets
// of at most 62 bytes: when 62 are waiting, at once when the event character arrives (if one is
// set), or when its latency timer runs out. The timer starts when a byte enters the empty
// buffer, and the chip counts it in whole milliseconds: it runs out at the L-th millisecond
// boundary after that byte (so a byte waits between L - 1 and L ms).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>

namespace sim {
namespace detail {

class Bridge {
public:
    struct Byte {
        uint8_t value;
        double atMs;      // in the chip: when it arrived; at the host: when it was sent there
        bool pieceEnd;    // a read stops after it (the pieces fault)
        bool packetEnd;   // the last byte of a USB packet (at the host)
    };
    static constexpr double kNever = std::numeric_limits<double>::infinity();
    static constexpr size_t kPacketPayload = 62;   // 64-byte packets less two status bytes

    // At every open: the given latency timer, no event character, nothing buffered. Without
    // the link model (`timed` false) bytes reach the host the moment they arrive.
    void reset(uint8_t latencyMs, bool timed);

    uint8_t latency() const { return latencyMs_; }
    void setTimed(bool timed) { timed_ = timed; }
    void setLatency(uint8_t ms, double nowMs);
    void setEventChar(uint8_t character, bool enabled, double nowMs);

    // A byte off the wire, in order of arrival (which may lie ahead of now).
    void arrive(uint8_t value, double arrivedMs, bool pieceEnd);

    void advance(double nowMs);      // sends to the host what the chip sends by nowMs
    double nextSendMs() const;       // when the chip next sends something (kNever: nothing to)
    double drainedMs() const;        // when all it holds now will have reached the host
    std::deque<Byte> &host() { return host_; }

    // FT_Purge(RX) and its vendor request: what has reached the chip or the host is dropped;
    // what is still on the wire arrives later.
    void purge(double nowMs);

private:
    double expiry(double firstArrivalMs) const;
    // The chip's first send at or before `limit`: its time, and how many bytes it takes.
    bool firstSend(double limit, double &atMs, size_t &count) const;

    std::deque<Byte> chip_;
    std::deque<Byte> host_;
    uint8_t latencyMs_ = 16;
    bool eventEnabled_ = false;
    uint8_t eventChar_ = 0;
    bool timed_ = false;
};

}  // namespace detail
}  // namespace sim
