// The umockdev testbed: one USB device per simulated device, on bus 1 from address 2 on, at
// the port its configuration names (1-<n> by default), each node answered by a Node. The n-th
// device's tty is ttyUSB<n-1> while ftdi_sio is bound. A device that is unplugged leaves the bus.
#pragma once

#include "sim/ft232r/usbfs.h"

#include <umockdev.h>

#include <memory>
#include <string>
#include <vector>

namespace sim {
namespace ft232r {

class Testbed {
public:
    Testbed();   // the simulated devices must be loaded first
    ~Testbed();
    Testbed(const Testbed &) = delete;
    Testbed &operator=(const Testbed &) = delete;

    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }
    std::string rootDir() const;
    const std::vector<std::unique_ptr<Node>> &nodes() const { return nodes_; }

    // Makes the testbed readable to another user, and a device node readable to nobody but
    // its owner (a device without a udev rule).
    void openTo(unsigned nodeMode);

    // Takes the devices unplugged since the last call off the bus, and shows each bridge's tty
    // while ftdi_sio is bound to it. Not from the ioctl handler's own thread, which the
    // testbed waits for when a device goes.
    void applyChanges();

private:
    static gboolean onIoctl(UMockdevIoctlBase *base, UMockdevIoctlClient *client, gpointer self);
    static void onVanished(UMockdevIoctlBase *base, UMockdevIoctlClient *client, gpointer self);
    Node *nodeOf(const char *devnode);
    bool add(const std::string &record);

    UMockdevTestbed *testbed_ = nullptr;
    UMockdevIoctlBase *handler_ = nullptr;
    std::vector<std::unique_ptr<Node>> nodes_;
    std::vector<std::string> unplugged_;   // sysfs paths, under the simulator's lock
    std::vector<std::string> ports_;       // each node's USB port ("1-2.3")
    std::vector<bool> ttyShown_;           // whether its tty is in the testbed's sysfs
    std::vector<bool> ttyNode_;            // whether its /dev/ttyUSB<n> has been made
    std::string error_;
};

}  // namespace ft232r
}  // namespace sim
