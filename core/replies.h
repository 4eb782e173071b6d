// What the meter answers, and when an answer counts.
//   Each frame of a transfer: ACK (0x06); anything else, or nothing, fails the transfer.
//   "END": ACK, then the frame 02 07 "SUCCESS" DF.
//   "VERSION": ACK, then a frame whose payload is the version text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kplx::core {

// The wait for a transfer reply: read until something has arrived, or until two reads (each
// waiting up to the read timeout) came back empty. A failed read counts as an empty one.
struct ReplyWait {
    size_t total = 0;
    int emptyReads = 0;

    static constexpr int kMaxEmptyReads = 2;

    void record(size_t bytesRead) { bytesRead != 0 ? void(total += bytesRead) : void(++emptyReads); }
    bool finished() const { return total >= 1 || emptyReads >= kMaxEmptyReads; }
};

// The reply buffer of a step: cleared before the step, read into from its start.
constexpr size_t kReplyBufferSize = 128;

inline bool acknowledged(const uint8_t *reply) { return reply[0] == 0x06; }

// The "END" reply (at least kEndReplyLength bytes, zeros where nothing arrived) confirms the
// database when byte 0 is ACK, byte 1 STX or byte 2 the length 7 of "SUCCESS", or when bytes
// 3 to 9 read "SUCCESS". Anything else means the meter did not take the database, and the
// transfer fails.
bool endConfirmed(const uint8_t *reply);

// The answer to "VERSION", gathered from up to five reads of 100 bytes into a 128-byte reply.
// Each chunk is appended with string-copy semantics: a zero byte ends its copy and the rest of
// the chunk's place becomes zeros. Reading goes on while the reply does not start with NAK
// and is shorter than it needs to be: five bytes, or once ACK, STX and LEN are in, the whole
// frame they announce.
class VersionAnswer {
public:
    static constexpr size_t kCapacity = 128;
    static constexpr size_t kChunkSize = 100;
    static constexpr int kMaxReads = 5;
    static constexpr size_t kMinReply = 5;
    static constexpr size_t kTextSize = 64;   // at most 63 characters and the terminator
    static constexpr uint32_t kReadTimeoutMs = 200;
    static constexpr uint32_t kWriteTimeoutMs = 1000;

    bool wantsMore() const;
    void add(const uint8_t *chunk, size_t n);   // n beyond kChunkSize counts as kChunkSize
    void fail() { failed_ = true; }             // a read call failed: no more reads

    // The version text into text[0 .. capacity): its length, or -1 when the answer is not a
    // valid one (nothing, a failed read, no ACK first, a bad frame, or text too long).
    int text(char *out, size_t capacity) const;

private:
    size_t wanted() const;

    uint8_t reply_[kCapacity] = {};
    size_t total_ = 0;
    int reads_ = 0;
    bool failed_ = false;
};

}  // namespace kplx::core
