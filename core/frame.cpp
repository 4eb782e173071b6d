#include "core/frame.h"

#include <cstring>

namespace kplx::core {

uint8_t frameChecksum(const uint8_t *lenAndPayload, size_t count)
{
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum = static_cast<uint8_t>(sum + lenAndPayload[i]);
    return static_cast<uint8_t>(~sum);
}

size_t buildFrame(const void *payload, size_t length, uint8_t *frame)
{
    const uint8_t len = static_cast<uint8_t>(length);
    frame[0] = kStx;
    frame[1] = len;
    if (len != 0)
        std::memcpy(frame + 2, payload, len);
    frame[2 + len] = frameChecksum(frame + 1, size_t{len} + 1);
    return size_t{len} + kFrameOverhead;
}

int parseFrame(const uint8_t *input, size_t available, char *output, size_t capacity)
{
    if (capacity == 0)
        return -1;
    output[0] = '\0';
    if (available < kFrameOverhead || input[0] != kStx)
        return -1;
    const size_t len = input[1];
    if (len + kFrameOverhead > available || len + 1 > capacity)
        return -1;
    if (frameChecksum(input + 1, len + 1) != input[len + 2])
        return -1;

    size_t i = 0;
    for (; i < len && input[2 + i] != 0; ++i)
        output[i] = static_cast<char>(input[2 + i]);
    for (; i <= len; ++i)
        output[i] = '\0';
    return static_cast<int>(len);
}

}  // namespace kplx::core
