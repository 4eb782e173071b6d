#include "protocol/packet.h"

#include "usb/com_access.h"

#include <string.h>

static unsigned char checksum(const unsigned char *lenAndPayload, size_t count)
{
    unsigned char sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum = static_cast<unsigned char>(sum + lenAndPayload[i]);
    return static_cast<unsigned char>(~sum);
}

int buildPacket(const void *payload, int length, unsigned char *frame)
{
    unsigned char len = static_cast<unsigned char>(length);
    frame[0] = STX;
    frame[1] = len;
    memcpy(frame + 2, payload, len);
    frame[2 + len] = checksum(frame + 1, static_cast<size_t>(len) + 1);
    return len + FRAME_OVERHEAD;
}

int sendPacket(ComAccess &port, const void *payload, int length)
{
    unsigned char frame[FRAME_BUFFER_SIZE];
    int size = buildPacket(payload, length, frame);
    port.writeBytes(frame, static_cast<DWORD>(size));   // status is the caller's to look at
    return length;
}

int parsePacket(const unsigned char *input, size_t available, char *output, size_t capacity)
{
    if (capacity == 0)
        return -1;
    output[0] = '\0';
    if (available < FRAME_OVERHEAD || input[0] != STX)
        return -1;
    size_t len = input[1];
    if (len + FRAME_OVERHEAD > available || len + 1 > capacity)
        return -1;
    if (checksum(input + 1, len + 1) != input[len + 2])
        return -1;

    // String-copy semantics: a zero byte ends the text, the rest is zero-filled.
    size_t i = 0;
    for (; i < len && input[2 + i] != 0; ++i)
        output[i] = static_cast<char>(input[2 + i]);
    for (; i <= len; ++i)
        output[i] = '\0';
    return static_cast<int>(len);
}
