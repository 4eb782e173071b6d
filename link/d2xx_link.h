// The link over D2XX entry points: FTDI's library on Windows, bound as the utility binds it,
// or the simulator's own entry points natively.
#pragma once

#include "link/link.h"
#include "usb/driver_binding.h"

#include <memory>
#include <string>

namespace kplx::link {

// The device information list, bound by name by kplx only (the utility never asks where a device
// is): with it a device's USB location ID is known without opening it. Null where the library
// lacks them.
struct DeviceListFunctions {
    FtCreateDeviceInfoListFn create = nullptr;
    FtGetDeviceInfoDetailFn detail = nullptr;
};

void bindDeviceListFunctions(DriverLookup lookup, void *context, DeviceListFunctions &functions);

std::unique_ptr<Backend> makeD2xxBackend(const DriverFunctions &functions, const OptionalDriverFunctions &optional,
                                         const DeviceListFunctions &list = DeviceListFunctions());

}  // namespace kplx::link
