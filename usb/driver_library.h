// The D2XX driver library, loaded once at start-up and bound by ordinal.
#pragma once

#include "usb/d2xx.h"

// Every entry point the utility calls; all bound or none.
struct DriverFunctions {
    FtOpenFn open;
    FtCloseFn close;
    FtReadFn read;
    FtWriteFn write;
    FtSetBaudRateFn setBaudRate;
    FtSetDataCharacteristicsFn setDataCharacteristics;
    FtSetFlowControlFn setFlowControl;
    FtClrDtrFn clrDtr;
    FtPurgeFn purge;
    FtSetTimeoutsFn setTimeouts;
    FtListDevicesFn listDevices;
    FtEeReadFn eeRead;
    FtGetDeviceInfoFn getDeviceInfo;
};

extern HMODULE driverLibrary;    // null: the driver is not installed
extern DriverFunctions driver;

#define DRIVER_FILE_NAME "Ftd2xx.dll"

// Loads the library from the Windows system folder, where the driver installer puts it, and
// binds all thirteen ordinals. A library lacking any of them counts as not loaded.
bool loadDriverLibrary();
