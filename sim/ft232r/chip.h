// One emulated FT232R in front of a simulated device: its control requests (the standard ones
// libusb makes and FTDI's vendor requests libftdi makes), bulk OUT to the device as a byte
// stream, and bulk IN packets: two modem-status bytes and at most 62 data bytes each.
#pragma once

#include "sim/ft232r/descriptors.h"

#include <cstdint>

namespace sim {
namespace ft232r {

struct Setup {
    uint8_t requestType;
    uint8_t request;
    uint16_t value;
    uint16_t index;
    uint16_t length;
};

class Chip {
public:
    // The chip of one plug-in (`plugIn`: the device's plug-in count then) of a simulated device.
    Chip(int device, int plugIn) : device_(device), plugIn_(plugIn) {}

    int device() const { return device_; }
    int plugIn() const { return plugIn_; }
    bool plugged() const;   // this plug-in is still there (not pulled out, nor plugged in again)

    void open();    // the interface is claimed: the bridge starts at its defaults
    void close();   // released: the device model writes its outputs (a later plug-in is not touched)
    bool openFails() const;

    // A control transfer: false to stall it. IN requests fill `in` (at most setup.length bytes).
    bool control(const Setup &setup, const uint8_t *out, Bytes &in);
    // How long after it is asked the chip answers (a slow EEPROM: eeprom-delay-ms, a share a word).
    double answerDelayMs(const Setup &setup) const;

    void bulkOut(const uint8_t *data, size_t size);

    // Fills a bulk IN transfer of `capacity` bytes, pending since `pendingSinceMs`, with the
    // packets the chip sends into it by now (see sim/bridge.h): a short packet, the status
    // bytes alone included, ends it. False when the transfer must wait.
    bool bulkIn(size_t capacity, double pendingSinceMs, Bytes &in);

private:
    bool vendorOut(const Setup &s);
    bool vendorIn(const Setup &s, Bytes &in);
    bool standardIn(const Setup &s, Bytes &in);

    int device_;
    int plugIn_;
};

}  // namespace ft232r
}  // namespace sim
