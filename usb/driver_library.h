// The D2XX driver library, loaded once at start-up and bound by ordinal.
#pragma once

#include "usb/driver_binding.h"

extern HMODULE driverLibrary;    // null: the driver is not installed
extern DriverFunctions driver;
extern OptionalDriverFunctions driverOptional;   // each null where the library lacks it

#define DRIVER_FILE_NAME "Ftd2xx.dll"

// Loads the library from the Windows system folder, where the driver installer puts it, and
// binds all thirteen ordinals. A library lacking any of them counts as not loaded. The
// optional latency-timer functions are bound by name where present.
bool loadDriverLibrary();
