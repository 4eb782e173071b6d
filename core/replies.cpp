#include "core/replies.h"

#include "core/frame.h"

#include <cstring>

namespace kplx::core {

namespace {
constexpr char kSuccess[] = "SUCCESS";
constexpr size_t kSuccessLength = sizeof kSuccess - 1;
}

bool endConfirmed(const uint8_t *reply)
{
    if (reply[0] == kAck || reply[1] == kStx || reply[2] == kSuccessLength)
        return true;
    return std::memcmp(reply + 3, kSuccess, kSuccessLength) == 0;
}

size_t VersionAnswer::wanted() const
{
    if (total_ < 3 || reply_[0] != kAck || reply_[1] != kStx)
        return kMinReply;
    size_t frameEnd = 1 + kFrameOverhead + size_t{reply_[2]};   // ACK, STX, LEN, payload, CHK
    if (frameEnd > kCapacity)
        frameEnd = kCapacity;
    return frameEnd > kMinReply ? frameEnd : kMinReply;
}

bool VersionAnswer::wantsMore() const
{
    return !failed_ && reply_[0] != kNak && total_ < wanted() && reads_ < kMaxReads;
}

void VersionAnswer::add(const uint8_t *chunk, size_t n)
{
    if (n > kChunkSize)
        n = kChunkSize;   // never trust a count beyond what was asked for
    if (total_ < kCapacity) {
        size_t room = kCapacity - total_;
        size_t copy = n < room ? n : room;
        size_t i = 0;
        for (; i < copy && chunk[i] != 0; ++i)
            reply_[total_ + i] = chunk[i];
        for (; i < copy; ++i)
            reply_[total_ + i] = 0;
    }
    total_ += n;
    reads_ += 1;
}

int VersionAnswer::text(char *out, size_t capacity) const
{
    if (capacity != 0)
        out[0] = '\0';
    if (total_ == 0 || failed_ || reply_[0] != kAck)
        return -1;
    size_t available = total_ < kCapacity ? total_ : kCapacity;
    return parseFrame(reply_ + 1, available - 1, out, capacity);
}

}  // namespace kplx::core
