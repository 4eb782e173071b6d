// When to look at the device list again: at once when the system tells of a device that came
// or went (libusb's hotplug events on Linux, where libusb has them), else after the period.
#pragma once

#include <memory>

namespace kplx::link {

class DeviceWatch {
public:
    virtual ~DeviceWatch() = default;
    // Returns after `periodMs`, or sooner when a device may have come or gone.
    virtual void wait(unsigned periodMs) = 0;
};

// With `usbEvents`, libusb's hotplug events where this build and the system have them (the
// libftdi backend); otherwise, or failing that, polling.
std::unique_ptr<DeviceWatch> makeDeviceWatch(bool usbEvents);

}  // namespace kplx::link
