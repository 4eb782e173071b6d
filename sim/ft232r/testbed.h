// The umockdev testbed: a USB device for each simulated device present, on bus 1, at the port
// its configuration names (1-<n> by default), each plug-in's node answered by a Node. The
// timeline is applied as the program runs: a plug-in adds the device with the next address, as
// the kernel numbers devices on a bus; a pull-out or an unplug takes it off the bus. The kernel's
// uevents go to the program's udev monitors (umockdev's preload library redirects them), so that
// libusb's hotplug sees devices come and go. While ftdi_sio is bound, a bridge's tty is the
// lowest ttyUSB<n> free, as the kernel gives it.
#pragma once

#include "sim/ft232r/usbfs.h"

#include <umockdev.h>

#include <map>
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
    // Every plug-in's node, in the order of plugging in (the simulator's lock guards the list).
    const std::vector<std::unique_ptr<Node>> &nodes() const { return nodes_; }

    // Makes the testbed readable to another user, and a device node readable to nobody but
    // its owner (a device without a udev rule); later plug-ins' nodes too.
    void openTo(unsigned nodeMode);

    // Applies the timeline due by now, takes the devices unplugged or pulled out off the bus
    // once the hub has noticed, adds the ones plugged in, and shows each bridge's tty while
    // ftdi_sio is bound to it. Not from the ioctl handler's own thread, which the testbed waits
    // for when a device goes.
    void applyChanges();

private:
    // What of a node the testbed shows.
    struct Shown {
        bool onBus = false;
        int tty = -1;   // its ttyUSB<n> in sysfs (-1: none)
    };

    static gboolean onIoctl(UMockdevIoctlBase *base, UMockdevIoctlClient *client, gpointer self);
    static void onVanished(UMockdevIoctlBase *base, UMockdevIoctlClient *client, gpointer self);
    Node *nodeOf(const char *devnode);
    bool add(const std::string &record);
    int nextAddress();
    bool plugIn(Node &node);
    void takeOff(Node &node, Shown &shown);
    void showTty(Node &node, Shown &shown, bool bound);

    UMockdevTestbed *testbed_ = nullptr;
    UMockdevIoctlBase *handler_ = nullptr;
    std::vector<std::unique_ptr<Node>> nodes_;
    std::vector<Shown> shown_;             // by node; only applyChanges' thread touches it
    std::vector<std::string> hubs_;        // hubs added so far ("1-2" for 1-2.3)
    std::map<std::string, int> hubAddresses_;   // their addresses, given with the first device behind
    std::vector<bool> ttyNodes_;           // whether /dev/ttyUSB<n> has been made
    int lastAddress_ = 1;                  // the root hub's
    int nodeMode_ = -1;                    // openTo's mode for the device nodes (-1: as made)
    std::string error_;
};

}  // namespace ft232r
}  // namespace sim
