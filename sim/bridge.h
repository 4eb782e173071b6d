// The FT232R between the meter and the host, as far as timing goes, after FTDI's application
// note AN232B-04 "Data Throughput, Latency and Handshaking" (summarised in the team's notes,
// ft232r-timing.md). Bytes from the meter enter the chip's buffer as they arrive off the wire.
// The chip sends them to the host in USB packets (two status bytes and at most 62 data bytes):
//   - when 62 bytes wait ("Small Amounts of Data and End of Buffer Conditions");
//   - when the event character, if enabled, arrives behind at least one other byte ("Event
//     Characters": it does not work as the first character in the buffer);
//   - when the latency timer expires. The timer measures the time since the chip last sent a
//     packet and restarts at every packet sent, status-only ones included; on expiry the chip
//     sends whatever waits, or the status bytes alone. So it is a periodic grid anchored at the
//     last packet, not a countdown started by the first byte: a short reply waits for the first
//     expiry after it arrives.
// The chip can send only into a read the host has made (an IN token). The D2XX driver keeps one
// pending, so every packet leaves when it is due (`advance`). Through libftdi the host asks only
// while it reads; a packet that came due meanwhile leaves at the next read, and the timer
// restarts then (`fetch`).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <utility>
#include <vector>

namespace sim {
namespace detail {

class Bridge {
public:
    struct Byte {
        uint8_t value;
        double atMs;      // in the chip: when it arrived; at the host: when its packet left
        bool pieceEnd;    // a read stops after it (the pieces fault)
        bool packetEnd;   // the last byte of a USB packet (at the host)
        int replyOf;      // the last byte of the reply to this frame (-1: not a reply's last)
    };
    struct Packet {
        double atMs = 0;   // when it leaves the chip
        size_t count = 0;  // data bytes it carries (0: the status bytes alone)
    };
    static constexpr double kNever = std::numeric_limits<double>::infinity();
    static constexpr double kAlwaysReading = -std::numeric_limits<double>::infinity();
    static constexpr size_t kPacketPayload = 62;   // 64-byte packets less two status bytes

    // At every open: the given latency timer (0 counts as 1), no event character, nothing
    // buffered, the timer started now; `alwaysReading` for the D2XX face. Without the link
    // model (`timed` false) bytes reach the host the moment they arrive.
    void reset(uint8_t latencyMs, bool timed, bool alwaysReading, double nowMs);

    uint8_t latency() const { return latencyMs_; }
    bool alwaysReading() const { return alwaysReading_; }
    void setTimed(bool timed) { timed_ = timed; }
    // FT_SetLatencyTimer and the vendor request: the new period, counted from now.
    void setLatency(uint8_t ms, double nowMs);
    void setEventChar(uint8_t character, bool enabled, double nowMs);

    // A byte off the wire, in order of arrival (which may lie ahead of now).
    void arrive(uint8_t value, double arrivedMs, bool pieceEnd, int replyOf = -1);

    // The D2XX face: a read is always pending, so packets leave when due.
    void advance(double nowMs);      // sends to the host what the chip sends by nowMs
    double nextSendMs() const;       // when the next packet with data leaves (kNever: none waits)
    double drainedMs() const;        // when all it holds now will have reached the host
    std::deque<Byte> &host() { return host_; }

    // The libftdi face: the packet a read pending since `pendingSinceMs` gets by `nowMs`, its
    // bytes appended to `data`; false when none leaves by then.
    bool fetch(double pendingSinceMs, double nowMs, Packet &packet, std::vector<uint8_t> &data);

    // The replies whose last byte has reached the host since the last call: frame, when.
    std::vector<std::pair<int, double>> takeDelivered();

    // FT_Purge(RX) and its vendor request: what has reached the chip or the host is dropped;
    // what is still on the wire arrives later.
    void purge(double nowMs);

private:
    double period() const { return latencyMs_ > 0 ? latencyMs_ : 1; }
    Packet next(double pendingSinceMs) const;
    void send(const Packet &p, std::vector<uint8_t> *data);

    std::deque<Byte> chip_;
    std::deque<Byte> host_;
    std::vector<std::pair<int, double>> delivered_;
    double lastSentMs_ = 0;   // the latency timer counts from here
    uint8_t latencyMs_ = 16;
    bool eventEnabled_ = false;
    uint8_t eventChar_ = 0;
    bool timed_ = false;
    bool alwaysReading_ = true;
};

}  // namespace detail
}  // namespace sim
