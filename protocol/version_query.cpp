#include "protocol/version_query.h"

#include "core/replies.h"
#include "protocol/packet.h"
#include "usb/com_access.h"
#include "usb/driver_library.h"

#include <new>
#include <string.h>

static const char versionCommand[] = "VERSION";

// Asks an open meter for its version; true with the text in `version` for a valid answer.
static bool askVersion(ComAccess &port, char *version, size_t capacity)
{
    port.setTimeouts(VERSION_READ_TIMEOUT_MS, VERSION_WRITE_TIMEOUT_MS);
    port.purgeReceive();
    port.purgeTransmit();

    unsigned char chunk[REPLY_SIZE_VERSION];
    memset(chunk, 0, sizeof chunk);
    sendPacket(port, versionCommand, sizeof versionCommand - 1);

    kplx::core::VersionAnswer answer;
    while (answer.wantsMore()) {
        if (port.readBytes(chunk, VERSION_CHUNK_SIZE) != FT_OK) {
            answer.fail();
            break;
        }
        answer.add(chunk, port.bytesRead);
    }
    return answer.text(version, capacity) != -1;
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
