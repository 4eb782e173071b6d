#include "sim/bridge.h"

#include <cmath>

namespace sim {
namespace detail {

void Bridge::reset(uint8_t latencyMs, bool timed)
{
    chip_.clear();
    host_.clear();
    latencyMs_ = latencyMs;
    eventEnabled_ = false;
    eventChar_ = 0;
    timed_ = timed;
}

void Bridge::setLatency(uint8_t ms, double nowMs)
{
    advance(nowMs);
    latencyMs_ = ms;
}

void Bridge::setEventChar(uint8_t character, bool enabled, double nowMs)
{
    advance(nowMs);
    eventChar_ = character;
    eventEnabled_ = enabled;
}

void Bridge::arrive(uint8_t value, double arrivedMs, bool pieceEnd)
{
    if (!timed_) {
        host_.push_back(Byte{value, arrivedMs, pieceEnd, false});   // packets of whatever is there
        return;
    }
    chip_.push_back(Byte{value, arrivedMs, pieceEnd, false});
}

double Bridge::expiry(double firstArrivalMs) const
{
    // A timer of 0 behaves as 1: the chip never sends a packet in the millisecond it starts.
    double ticks = latencyMs_ > 0 ? latencyMs_ : 1;
    return std::floor(firstArrivalMs) + ticks;
}

bool Bridge::firstSend(double limit, double &atMs, size_t &count) const
{
    if (chip_.empty())
        return false;
    const double runsOut = expiry(chip_.front().atMs);
    size_t n = 0;
    for (const Byte &b : chip_) {
        if (b.atMs > runsOut)
            break;
        ++n;
        if ((eventEnabled_ && b.value == eventChar_) || n == kPacketPayload) {
            if (b.atMs > limit)
                return false;
            atMs = b.atMs;
            count = n;
            return true;
        }
    }
    if (runsOut > limit)
        return false;
    atMs = runsOut;
    count = n;
    return true;
}

void Bridge::advance(double nowMs)
{
    double at = 0;
    size_t count = 0;
    while (firstSend(nowMs, at, count)) {
        for (size_t i = 0; i < count; ++i) {
            Byte b = chip_.front();
            chip_.pop_front();
            b.atMs = at;
            b.packetEnd = i + 1 == count;
            host_.push_back(b);
        }
    }
}

double Bridge::nextSendMs() const
{
    double at = 0;
    size_t count = 0;
    return firstSend(kNever, at, count) ? at : kNever;
}

double Bridge::drainedMs() const
{
    Bridge copy = *this;
    double last = host_.empty() ? 0 : host_.back().atMs;
    double at = 0;
    size_t count = 0;
    while (copy.firstSend(kNever, at, count)) {
        copy.chip_.erase(copy.chip_.begin(), copy.chip_.begin() + static_cast<long>(count));
        last = at;
    }
    return last;
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
