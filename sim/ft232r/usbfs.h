// The usbdevfs ioctls libusb makes on a device node, answered for one emulated FT232R: claims,
// the kernel driver (ftdi_sio, bound until detached and bound again on release), and URBs.
// Control and bulk OUT URBs complete at once; bulk IN URBs wait for the chip. Once the device
// is unplugged or pulled out every ioctl fails with ENODEV. A node stands for one plug-in: a
// device plugged in again gets a node of its own, at a new address.
#pragma once

#include "sim/ft232r/chip.h"

#include <umockdev.h>

#include <chrono>
#include <deque>
#include <string>

namespace sim {
namespace ft232r {

class Node {
public:
    Node(int device, int plugIn, int address, std::string port, std::string devnode, std::string syspath);
    ~Node();
    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;

    const std::string &devnode() const { return devnode_; }
    const std::string &syspath() const { return syspath_; }
    const std::string &port() const { return port_; }
    int device() const { return chip_.device(); }
    int plugIn() const { return chip_.plugIn(); }
    int address() const { return address_; }

    // Answers the client's ioctl. Each open of the node is a client of its own.
    void handle(UMockdevIoctlClient *client);

    // A client closed the node, or its program ended: what it claimed and submitted goes.
    void vanished(UMockdevIoctlClient *client);

    // Takes note of a pull-out by the timeline (from the emulator's loop, or the next request).
    void notePullOut();

    // The hub has reported the device gone and the kernel lets it go: usbfs drops the claim
    // (driver_disconnect in drivers/usb/core/devio.c), whatever the program does next.
    void disconnect();

    // What a test reads afterwards: is ftdi_sio bound again, how often was the port claimed.
    bool driverBound() const { return driverBound_; }
    int claims() const { return claims_; }
    int releases() const { return releases_; }
    int controls() const { return controls_; }   // control requests submitted
    int others() const { return others_; }       // every other ioctl on the node
    bool unplugged() const { return gone_; }
    // Whether the hub has reported the unplug, so that the device leaves sysfs.
    bool offTheBus() const { return gone_ && std::chrono::steady_clock::now() >= hubNotices_; }

private:
    struct Urb {
        UMockdevIoctlClient *client = nullptr; // who submitted it (and only it may reap it)
        UMockdevIoctlData *urb = nullptr;      // the client's struct usbdevfs_urb
        UMockdevIoctlData *buffer = nullptr;   // its data buffer
        uint8_t type = 0;
        uint8_t endpoint = 0;
        int length = 0;
        double submittedMs = 0;
        double doneAtMs = 0;                    // a control request the device answers late
        bool done = false;
        int status = 0;
        int actual = 0;
    };

    long submit(UMockdevIoctlClient *client, UMockdevIoctlData *arg, int &error);
    long submitCutShort(UMockdevIoctlClient *client, UMockdevIoctlData *arg, int &error);
    long reap(UMockdevIoctlClient *client, UMockdevIoctlData *arg, int &error);
    long discard(UMockdevIoctlData *arg, int &error);
    long usbIoctl(UMockdevIoctlData *arg, int &error);
    long capabilities(UMockdevIoctlData *arg, int &error);
    long getDriver(UMockdevIoctlData *arg, int &error);
    void release(Urb &u);
    void goneNow();

    Chip chip_;
    int address_;
    std::string port_;
    std::string devnode_;
    std::string syspath_;
    std::deque<Urb> urbs_;
    std::deque<Urb> reaped_;   // released once the reap that hands them back has completed
    UMockdevIoctlClient *claimedBy_ = nullptr;
    bool driverBound_ = true;
    bool gone_ = false;
    int cutShort_ = 0;   // errno transfers end with after an unplug, until the hub notices (0: none)
    std::chrono::steady_clock::time_point hubNotices_;
    int claims_ = 0;
    int releases_ = 0;
    int controls_ = 0;
    int others_ = 0;
};

}  // namespace ft232r
}  // namespace sim
