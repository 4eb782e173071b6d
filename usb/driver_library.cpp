#include "usb/driver_library.h"

#include <string.h>

HMODULE driverLibrary;
DriverFunctions driver;

template <typename Function>
static bool bind(HMODULE library, int ordinal, Function &slot)
{
    FARPROC address = GetProcAddress(library, MAKEINTRESOURCEA(ordinal));
    slot = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
    return address != NULL;
}

static bool bindAll(HMODULE library, DriverFunctions &f)
{
    bool ok = true;
    ok &= bind(library, FT_ORDINAL_OPEN, f.open);
    ok &= bind(library, FT_ORDINAL_CLOSE, f.close);
    ok &= bind(library, FT_ORDINAL_READ, f.read);
    ok &= bind(library, FT_ORDINAL_WRITE, f.write);
    ok &= bind(library, FT_ORDINAL_SET_BAUD_RATE, f.setBaudRate);
    ok &= bind(library, FT_ORDINAL_SET_DATA_CHARACTERISTICS, f.setDataCharacteristics);
    ok &= bind(library, FT_ORDINAL_SET_FLOW_CONTROL, f.setFlowControl);
    ok &= bind(library, FT_ORDINAL_CLR_DTR, f.clrDtr);
    ok &= bind(library, FT_ORDINAL_PURGE, f.purge);
    ok &= bind(library, FT_ORDINAL_SET_TIMEOUTS, f.setTimeouts);
    ok &= bind(library, FT_ORDINAL_LIST_DEVICES, f.listDevices);
    ok &= bind(library, FT_ORDINAL_EE_READ, f.eeRead);
    ok &= bind(library, FT_ORDINAL_GET_DEVICE_INFO, f.getDeviceInfo);
    return ok;
}

bool loadDriverLibrary()
{
    driverLibrary = NULL;
    memset(&driver, 0, sizeof driver);

    // Never the default search order: the utility is usually started from a downloads
    // folder, where a planted Ftd2xx.dll would run inside it.
    char path[MAX_PATH + sizeof DRIVER_FILE_NAME + 1];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    memcpy(path + length, "\\" DRIVER_FILE_NAME, sizeof DRIVER_FILE_NAME + 1);

    HMODULE library = LoadLibraryA(path);
    if (library == NULL)
        return false;

    DriverFunctions bound;
    if (!bindAll(library, bound))
        return false;   // left loaded, never called: no null entry is ever reached

    driver = bound;
    driverLibrary = library;
    return true;
}
