// What Linux tells about USB devices without opening one: their descriptors' strings and
// numbers as sysfs keeps them, the serial port a bound driver made of one, and which programs
// hold such a port open.
#pragma once

#include "link/link.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace kplx::link {

// The devices with this vendor and product id under /sys/bus/usb/devices, in bus and address
// order. `index` is the place in that order.
std::vector<DeviceInfo> sysfsDevices(unsigned vendorId, unsigned productId);

// Whether the device listed at `location` is still there with that bus address.
bool sysfsDevicePresent(const std::string &location, int bus, int address);

// The serial ports (ttyUSB0, ...) a driver made of the device's interfaces, by name.
std::vector<std::string> sysfsTtys(const std::string &location);

struct PortHolder {
    pid_t pid = 0;
    std::string name;   // /proc/PID/comm, as the kernel has it
};

// The other processes holding /dev/<tty> open, as far as this process may look into them.
// The node and each open file are compared by device number (or by inode), not by path.
std::vector<PortHolder> portHolders(const std::string &tty);

}  // namespace kplx::link
