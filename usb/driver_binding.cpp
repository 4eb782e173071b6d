#include "usb/driver_binding.h"

#include <string.h>

template <typename Function>
static bool bind(DriverLookup lookup, void *context, int ordinal, const char *name, Function &slot)
{
    DriverProc address = lookup(context, ordinal, name);
    slot = reinterpret_cast<Function>(address);
    return address != NULL;
}

bool bindDriverFunctions(DriverLookup lookup, void *context, DriverFunctions &f)
{
    bool ok = true;
    ok &= bind(lookup, context, FT_ORDINAL_OPEN, NULL, f.open);
    ok &= bind(lookup, context, FT_ORDINAL_CLOSE, NULL, f.close);
    ok &= bind(lookup, context, FT_ORDINAL_READ, NULL, f.read);
    ok &= bind(lookup, context, FT_ORDINAL_WRITE, NULL, f.write);
    ok &= bind(lookup, context, FT_ORDINAL_SET_BAUD_RATE, NULL, f.setBaudRate);
    ok &= bind(lookup, context, FT_ORDINAL_SET_DATA_CHARACTERISTICS, NULL, f.setDataCharacteristics);
    ok &= bind(lookup, context, FT_ORDINAL_SET_FLOW_CONTROL, NULL, f.setFlowControl);
    ok &= bind(lookup, context, FT_ORDINAL_CLR_DTR, NULL, f.clrDtr);
    ok &= bind(lookup, context, FT_ORDINAL_PURGE, NULL, f.purge);
    ok &= bind(lookup, context, FT_ORDINAL_SET_TIMEOUTS, NULL, f.setTimeouts);
    ok &= bind(lookup, context, FT_ORDINAL_LIST_DEVICES, NULL, f.listDevices);
    ok &= bind(lookup, context, FT_ORDINAL_EE_READ, NULL, f.eeRead);
    ok &= bind(lookup, context, FT_ORDINAL_GET_DEVICE_INFO, NULL, f.getDeviceInfo);
    if (!ok)
        memset(&f, 0, sizeof f);   // no entry is ever called unbound
    return ok;
}

void bindOptionalDriverFunctions(DriverLookup lookup, void *context, OptionalDriverFunctions &f)
{
    bind(lookup, context, 0, "FT_SetLatencyTimer", f.setLatencyTimer);
    bind(lookup, context, 0, "FT_GetLatencyTimer", f.getLatencyTimer);
}
