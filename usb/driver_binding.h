// The D2XX entry points a client binds: thirteen by ordinal, all or none, and two optional
// ones by name. Shared by the utility and kplx, so both bind the library the same way.
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

// The bridge's latency timer: not every library version exports its functions, so each is
// bound by name on its own and may stay null.
struct OptionalDriverFunctions {
    FtSetLatencyTimerFn setLatencyTimer;
    FtGetLatencyTimerFn getLatencyTimer;
};

// Finds an export: by ordinal when name is null, else by name. Null when there is none.
typedef void (*DriverProc)();
typedef DriverProc (*DriverLookup)(void *context, int ordinal, const char *name);

// Binds the thirteen ordinals; false, with `functions` cleared, when any one is missing.
bool bindDriverFunctions(DriverLookup lookup, void *context, DriverFunctions &functions);

// Binds what the library has of the optional functions.
void bindOptionalDriverFunctions(DriverLookup lookup, void *context, OptionalDriverFunctions &functions);
