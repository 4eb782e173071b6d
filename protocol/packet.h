// Frames on the wire: STX, LEN, LEN payload bytes, CHK = NOT of the 8-bit sum of LEN and the
// payload (STX is not summed). Single-byte replies (ACK, NAK) are not frames.
#pragma once

#include <stddef.h>

class ComAccess;

#define STX 0x02
#define ACK 0x06
#define NAK 0x15
#define FRAME_OVERHEAD 3
#define FRAME_BUFFER_SIZE 258   // the largest frame: LEN 255, and STX, LEN and CHK
#define MAX_PAYLOAD 128

// Builds the frame and writes it with one write; returns `length`. The write status stays in
// port.status.
int sendPacket(ComAccess &port, const void *payload, int length);

// Builds the frame for `payload` into `frame` (at least length + 3 bytes); returns its size.
int buildPacket(const void *payload, int length, unsigned char *frame);

// Checks the frame in input[0 .. available) and copies its payload into output (capacity
// bytes) as a terminated string that stops at the first zero byte. Returns LEN, or -1 when
// the frame is invalid, incomplete, or its payload does not fit.
int parsePacket(const unsigned char *input, size_t available, char *output, size_t capacity);
