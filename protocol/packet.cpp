#include "protocol/packet.h"

#include "core/frame.h"
#include "usb/com_access.h"

static_assert(FRAME_BUFFER_SIZE >= kplx::core::kMaxFrameSize, "sendPacket's buffer holds any frame buildPacket writes");

int buildPacket(const void *payload, int length, unsigned char *frame)
{
    return static_cast<int>(kplx::core::buildFrame(payload, static_cast<size_t>(length), frame));
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
    return kplx::core::parseFrame(input, available, output, capacity);
}
