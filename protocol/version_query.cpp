#include "protocol/version_query.h"

#include "protocol/packet.h"
#include "usb/com_access.h"
#include "usb/driver_library.h"

#include <new>
#include <string.h>

static const char versionCommand[] = "VERSION";

// Appends a chunk at reply + total with string-copy semantics: a zero byte ends the copy and
// the rest of the chunk's place becomes zeros. Bytes beyond the reply buffer are dropped.
static void appendChunk(unsigned char *reply, size_t capacity, size_t total, const unsigned char *chunk, size_t n)
{
    if (total >= capacity)
        return;
    if (n > capacity - total)
        n = capacity - total;
    size_t i = 0;
    for (; i < n && chunk[i] != 0; ++i)
        reply[total + i] = chunk[i];
    for (; i < n; ++i)
        reply[total + i] = 0;
}

// How many bytes the answer needs: at least the first five, and once ACK, STX and LEN are in,
// the whole frame they announce, so that a frame arriving in several pieces is still joined.
static size_t replyWanted(const unsigned char *reply, size_t total)
{
    if (total < 3 || reply[0] != ACK || reply[1] != STX)
        return VERSION_MIN_REPLY;
    size_t frameEnd = 1 + 3 + static_cast<size_t>(reply[2]);   // ACK, STX, LEN, payload, CHK
    if (frameEnd > REPLY_SIZE_VERSION)
        frameEnd = REPLY_SIZE_VERSION;
    return frameEnd > VERSION_MIN_REPLY ? frameEnd : VERSION_MIN_REPLY;
}

// Asks an open meter for its version; true with the text in `version` for a valid answer.
static bool askVersion(ComAccess &port, char *version, size_t capacity)
{
    port.setTimeouts(VERSION_READ_TIMEOUT_MS, VERSION_WRITE_TIMEOUT_MS);
    port.purgeReceive();
    port.purgeTransmit();

    unsigned char reply[REPLY_SIZE_VERSION];
    unsigned char chunk[REPLY_SIZE_VERSION];
    memset(reply, 0, sizeof reply);
    memset(chunk, 0, sizeof chunk);
    sendPacket(port, versionCommand, sizeof versionCommand - 1);

    size_t total = 0;
    int reads = 0;
    bool failed = false;
    while (reply[0] != NAK && total < replyWanted(reply, total) && reads < VERSION_MAX_READS) {
        if (port.readBytes(chunk, VERSION_CHUNK_SIZE) != FT_OK) {
            failed = true;
            break;
        }
        size_t n = port.bytesRead;
        if (n > VERSION_CHUNK_SIZE)
            n = VERSION_CHUNK_SIZE;
        if (n > 0)
            appendChunk(reply, sizeof reply, total, chunk, n);
        total += n;
        reads++;
    }

    if (total == 0 || failed || reply[0] != ACK)
        return false;
    size_t available = total < sizeof reply ? total : sizeof reply;
    return parsePacket(reply + 1, available - 1, version, capacity) != -1;
}

// Opens device `index` with its own port object and adds its version when it is a meter.
static bool queryDevice(int index, HWND listBox)
{
    ComAccess *port = new (std::nothrow) ComAccess();
    if (port == NULL)
        return false;

    bool answered = false;
    char version[VERSION_TEXT_SIZE];
    if (port->openAndConfigure(index, 115200, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE) == FT_OK) {
        port->checkMeterIdentity();
        if (!port->meterMismatch && askVersion(*port, version, sizeof version)) {
            answered = true;
            if (listBox != NULL)
                SendMessageA(listBox, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(version));
        }
    }
    port->closePort();
    delete port;
    return answered;
}

int queryMeters(HWND listBox)
{
    DWORD count = 0;
    if (driver.listDevices(&count, NULL, FT_LIST_NUMBER_ONLY) != FT_OK)
        return 0;   // a failed listing counts as no devices

    int meters = 0;
    for (DWORD i = 0; i < count; ++i) {
        int index = static_cast<int>(i);
        FT_HANDLE handle = NULL;
        if (driver.open(index, &handle) != FT_OK)
            continue;
        // Asked once before the port is configured; the answer is not needed.
        FT_DEVICE type = 0;
        DWORD id = 0;
        char serial[16];
        char description[64];
        driver.getDeviceInfo(handle, &type, &id, serial, description, NULL);
        driver.close(handle);

        if (queryDevice(index, listBox))
            meters++;
    }
    return meters;
}
