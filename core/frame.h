// Frames on the wire: STX, LEN, LEN payload bytes, CHK = NOT of the 8-bit sum of LEN and the
// payload (STX is not summed). Single-byte replies (ACK, NAK) are not frames.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kplx::core {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kNak = 0x15;
constexpr size_t kFrameOverhead = 3;               // STX, LEN, CHK
constexpr size_t kMaxFrameSize = 255 + kFrameOverhead;

uint8_t frameChecksum(const uint8_t *lenAndPayload, size_t count);

// Builds the frame of `payload` into `frame`, which holds at least (length & 0xFF) + 3 bytes.
// LEN is the low 8 bits of `length`, and that many payload bytes go out. Returns the frame size.
size_t buildFrame(const void *payload, size_t length, uint8_t *frame);

// Checks the frame in input[0 .. available) and copies its payload into output (capacity
// bytes) as a terminated string that stops at the first zero byte, the rest zero-filled.
// Returns LEN, or -1 (output empty) when the frame is invalid, incomplete, or its payload and
// terminator do not fit.
int parseFrame(const uint8_t *input, size_t available, char *output, size_t capacity);

}  // namespace kplx::core
