// One FTDI bridge as kplx talks to it, whichever library stands behind it: the D2XX library on
// Windows, libftdi1 on Linux, or the project's simulator.
#pragma once

#include "core/identity.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kplx::link {

enum class Status {
    ok,
    notFound,           // no device (any more) at that place or with that serial
    busy,               // another program has the device open
    noAccess,           // no permission on the device
    gone,               // the device was unplugged
    eepromUnreadable,   // the EEPROM cannot be read, or its checksum is wrong
    unsupported,        // the library lacks the call
    failed,             // any other failure of the library
    cancelled,          // a read given up because the caller asked (see cancelReadsWhen)
};

// A device as the system lists it, read without opening it.
struct DeviceInfo {
    int index = 0;             // its place in the listing (D2XX: what FT_Open takes)
    std::string location;      // where it is plugged in: the sysfs name on Linux ("1-2.3"), else ""
    int bus = -1;              // Linux: bus number and address, which find it for opening
    int address = -1;
    std::string serial;        // as the device has it, bytes unchanged; "" where it has none
    std::string description;
    std::string problem;       // why its strings could not be read ("" when they could)
    bool openHere = false;     // this process has it open (D2XX then gives no location ID)
};

// The EEPROM fields the identity check compares, holding the description's text.
struct EepromRecord {
    core::EepromFields values;   // its description is set by fields()
    std::string description;

    core::EepromFields fields() const
    {
        core::EepromFields f = values;
        f.description = description;
        return f;
    }
};

// An open device. Closed when destroyed. Every call returns its status; `detail()` says more
// about the last failure, in the user's terms.
//
// Opened, it may only be asked: readEeprom() leaves the device as it was (on Linux the kernel's
// driver stays bound and the interface unclaimed). Only a meter is then claimed, which takes
// the port for this program (busy while another program holds it), and configured; every
// transfer call needs both.
class MeterLink {
public:
    virtual ~MeterLink() = default;

    virtual Status readEeprom(EepromRecord &record) = 0;
    virtual Status claim() = 0;
    virtual Status configure() = 0;    // 115200 baud, 8N1, no flow control, DTR low
    virtual Status setTimeouts(uint32_t readMs, uint32_t writeMs) = 0;
    virtual Status write(const uint8_t *data, size_t size) = 0;
    // Returns when `want` bytes have arrived or the read timeout has passed; `got` says how many.
    virtual Status read(uint8_t *buffer, size_t want, size_t &got) = 0;
    virtual Status purgeReceive() = 0;
    virtual Status purgeTransmit() = 0;

    // The bridge's latency timer (unsupported where the library lacks the calls).
    virtual Status getLatencyTimer(uint8_t &ms) = 0;
    virtual Status setLatencyTimer(uint8_t ms) = 0;

    // From now on a read that is still waiting ends soon after `flag` is set, with
    // Status::cancelled and what it has; null: reads wait their timeout out.
    virtual void cancelReadsWhen(const std::atomic<bool> *flag) { cancel_ = flag; }

    const std::string &detail() const { return detail_; }

protected:
    bool cancelRequested() const { return cancel_ != nullptr && cancel_->load(); }

    std::string detail_;

private:
    const std::atomic<bool> *cancel_ = nullptr;
};

class Backend {
public:
    virtual ~Backend() = default;

    // Every FTDI bridge, from what the system tells without opening any.
    virtual Status enumerate(std::vector<DeviceInfo> &devices) = 0;
    // The device `enumerate` gave, found where it was listed (two devices may share a serial).
    virtual Status open(const DeviceInfo &device, std::unique_ptr<MeterLink> &link) = 0;

    // Whether `enumerate` tells where each device is plugged in (DeviceInfo::location); if not,
    // why not, in words that finish "-p needs the devices' USB locations, which ...".
    virtual bool knowsLocations() const { return true; }
    virtual std::string locationsMissing() const { return ""; }

    // Whether its devices are USB devices this process sees come and go through libusb.
    virtual bool usbEvents() const { return false; }

    const std::string &detail() const { return detail_; }

protected:
    std::string detail_;
};

// The backend KPLX_BACKEND names (sim, d2xx, libftdi), else the platform's own. Null, with
// `error` set, when it cannot be had.
std::unique_ptr<Backend> openBackend(std::string &error);

}  // namespace kplx::link
