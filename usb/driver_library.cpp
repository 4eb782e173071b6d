#include "usb/driver_library.h"

#include <string.h>

HMODULE driverLibrary;
DriverFunctions driver;
OptionalDriverFunctions driverOptional;

static DriverProc procOfLibrary(void *library, int ordinal, const char *name)
{
    FARPROC address = GetProcAddress(static_cast<HMODULE>(library), name != NULL ? name : MAKEINTRESOURCEA(ordinal));
    return reinterpret_cast<DriverProc>(address);
}

bool loadDriverLibrary()
{
    driverLibrary = NULL;
    memset(&driver, 0, sizeof driver);
    memset(&driverOptional, 0, sizeof driverOptional);

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
    if (!bindDriverFunctions(procOfLibrary, library, bound))
        return false;   // left loaded, never called: no null entry is ever reached

    driver = bound;
    bindOptionalDriverFunctions(procOfLibrary, library, driverOptional);
    driverLibrary = library;
    return true;
}
