#include "sim/bridge.h"

#include <algorithm>
#include <cmath>

namespace sim {
namespace detail {

void Bridge::reset(uint8_t latencyMs, bool timed, bool alwaysReading, double nowMs)
{
    chip_.clear();
    host_.clear();
    delivered_.clear();
    latencyMs_ = latencyMs;
    eventEnabled_ = false;
    eventChar_ = 0;
    timed_ = timed;
    alwaysReading_ = alwaysReading;
    lastSentMs_ = nowMs;
}

// AN232B-04: the timer counts from the last packet sent; setting it starts the count afresh.
void Bridge::setLatency(uint8_t ms, double nowMs)
{
    advance(nowMs);
    latencyMs_ = ms;
    lastSentMs_ = nowMs;
}

void Bridge::setEventChar(uint8_t character, bool enabled, double nowMs)
{
    advance(nowMs);
    eventChar_ = character;
    eventEnabled_ = enabled;
}

void Bridge::arrive(uint8_t value, double arrivedMs, bool pieceEnd, int replyOf)
{
    Byte b{value, arrivedMs, pieceEnd, false, replyOf};
    if (timed_) {
        chip_.push_back(b);
        return;
    }
    if (!alwaysReading_) {
        chip_.push_back(b);   // fetched as soon as a read asks
        return;
    }
    host_.push_back(b);       // packets of whatever is there
    if (replyOf >= 0)
        delivered_.emplace_back(replyOf, arrivedMs);
}

// The next packet to leave, for a read pending since `s` (kAlwaysReading: the D2XX driver's).
Bridge::Packet Bridge::next(double s) const
{
    const double period = this->period();
    double due = lastSentMs_ + period;
    if (!timed_) {
        // No link model: data leaves as soon as it is there, the status bytes alone each period.
        if (!chip_.empty())
            due = chip_.front().atMs;
    } else if (s == kAlwaysReading && !chip_.empty() && chip_.front().atMs > due) {
        // Over an idle gap the status-only packets keep the grid; the bytes take the first
        // expiry after the first of them arrives.
        const double first = chip_.front().atMs;
        due = lastSentMs_ + period * std::ceil((first - lastSentMs_) / period);
        if (due < first)
            due += period;   // rounding must never leave the byte behind
    }
    if (timed_) {
        size_t n = 0;
        for (const Byte &b : chip_) {
            if (b.atMs > due)
                break;
            ++n;
            // A full packet leaves at once; so does the event character behind another byte.
            if (n == kPacketPayload || (eventEnabled_ && b.value == eventChar_ && n >= 2)) {
                due = b.atMs;
                break;
            }
        }
    }
    Packet p;
    p.atMs = std::max(s, due);
    for (const Byte &b : chip_) {
        if (b.atMs > p.atMs || p.count == kPacketPayload)
            break;
        ++p.count;
    }
    return p;
}

void Bridge::send(const Packet &p, std::vector<uint8_t> *data)
{
    lastSentMs_ = p.atMs;
    for (size_t i = 0; i < p.count; ++i) {
        Byte b = chip_.front();
        chip_.pop_front();
        b.atMs = p.atMs;
        b.packetEnd = i + 1 == p.count;
        if (b.replyOf >= 0)
            delivered_.emplace_back(b.replyOf, p.atMs);
        if (data != nullptr)
            data->push_back(b.value);
        else
            host_.push_back(b);
    }
}

void Bridge::advance(double nowMs)
{
    if (!timed_ || !alwaysReading_)
        return;
    for (;;) {
        if (chip_.empty()) {
            // Idle: only the grid's phase matters.
            const double period = this->period();
            if (nowMs > lastSentMs_ + period)
                lastSentMs_ += period * std::floor((nowMs - lastSentMs_) / period);
            return;
        }
        const Packet p = next(kAlwaysReading);
        if (p.atMs > nowMs)
            return;
        send(p, nullptr);
    }
}

double Bridge::nextSendMs() const
{
    if (chip_.empty())
        return kNever;
    return next(kAlwaysReading).atMs;
}

double Bridge::drainedMs() const
{
    if (!timed_)
        return host_.empty() ? 0 : host_.back().atMs;
    Bridge copy = *this;
    double last = host_.empty() ? 0 : host_.back().atMs;
    while (!copy.chip_.empty()) {
        const Packet p = copy.next(kAlwaysReading);
        copy.send(p, nullptr);
        last = p.atMs;
    }
    return last;
}

bool Bridge::fetch(double pendingSinceMs, double nowMs, Packet &packet, std::vector<uint8_t> &data)
{
    packet = next(pendingSinceMs);
    if (packet.atMs > nowMs)
        return false;
    send(packet, &data);
    return true;
}

std::vector<std::pair<int, double>> Bridge::takeDelivered()
{
    std::vector<std::pair<int, double>> out;
    out.swap(delivered_);
    return out;
}

void Bridge::purge(double nowMs)
{
    advance(nowMs);
    host_.clear();
    while (!chip_.empty() && chip_.front().atMs <= nowMs)
        chip_.pop_front();
}

}  // namespace detail
}  // namespace sim
