#include "link/ftdi_link.h"

#include "link/ft232r_eeprom.h"
#include "link/usb_sysfs.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace kplx::link {

namespace {

constexpr unsigned kVendor = 0x0403;
constexpr unsigned kProduct = 0x6001;
constexpr int kBaud = 115200;
constexpr uint8_t kVendorIn = 0xC0;        // vendor request, device to host
constexpr uint8_t kReadEepromRequest = 0x90;   // one 16-bit word at wIndex
constexpr int kProbeTimeoutMs = 200;
constexpr int kEepromTimeoutMs = 500;
constexpr int kUnplugNoticeMs = 1000;   // a hub reports an unplug well within this
constexpr int kUnplugPollMs = 20;

std::string nodeOf(int bus, int address)
{
    char path[64];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03d/%03d", bus, address);
    return path;
}

// A person at the machine gets the device through the seat (uaccess); a service account has
// no seat and needs the group the rule names.
std::string noPermission(const std::string &node)
{
    return "no permission on " + node +
           ": install kplx's udev rule (60-kplx.rules, see the README), then use kplx from a logged-in "
           "session at this machine (uaccess) or, for a service account, add it to the plugdev group; "
           "or run as root";
}

Status openFailure(int r, int bus, int address, std::string &detail)
{
    if (r == LIBUSB_ERROR_ACCESS) {
        detail = noPermission(nodeOf(bus, address));
        return Status::noAccess;
    }
    if (r == LIBUSB_ERROR_NO_DEVICE) {
        detail = "the device was unplugged";
        return Status::gone;
    }
    if (r == LIBUSB_ERROR_BUSY) {
        detail = "the device is busy: another program has it open";
        return Status::busy;
    }
    detail = std::string("the port cannot be opened: ") + libusb_error_name(r);
    return Status::failed;
}

std::string holdersText(const std::vector<PortHolder> &holders)
{
    std::string text;
    for (const PortHolder &h : holders)
        text += (text.empty() ? "" : ", ") + h.name + " (pid " + std::to_string(h.pid) + ")";
    return text;
}

// One FT232R, opened in two stages. First a plain libusb handle, through which the EEPROM is
// read with vendor requests on endpoint 0: the kernel lets those through without the interface
// being claimed, so ftdi_sio stays bound and the device untouched. Only a meter is then opened
// through libftdi, which detaches ftdi_sio, resets the chip and gives the driver back on close.
class FtdiLink : public MeterLink {
public:
    FtdiLink(ftdi_context *ftdi, libusb_device *dev, libusb_device_handle *plain, const DeviceInfo &info)
        : ftdi_(ftdi), dev_(dev), plain_(plain), info_(info) {}
    ~FtdiLink() override
    {
        if (claimed_)
            ftdi_usb_close(ftdi_);   // releasing the interface hands the device back to ftdi_sio
        else if (plain_ != nullptr)
            libusb_close(plain_);
        libusb_unref_device(dev_);
        ftdi_free(ftdi_);
    }

    Status readEeprom(EepromRecord &record) override
    {
        uint8_t image[kFt232rEepromSize] = {};
        for (size_t word = 0; word < kFt232rEepromSize / 2; ++word) {
            int r = libusb_control_transfer(handle(), kVendorIn, kReadEepromRequest, 0, static_cast<uint16_t>(word),
                                            image + 2 * word, 2, kEepromTimeoutMs);
            if (r == 2)
                continue;
            if (r == LIBUSB_ERROR_NO_DEVICE || gone()) {
                detail_ = "the device was unplugged";
                return Status::gone;
            }
            detail_ = std::string("its EEPROM cannot be read (") + (r < 0 ? libusb_error_name(r) : "short read") + ")";
            return Status::eepromUnreadable;
        }
        Ft232rEeprom decoded;
        if (!decodeFt232rEeprom(image, sizeof image, decoded, detail_))
            return Status::eepromUnreadable;
        record = decoded.record;
        return Status::ok;
    }

    // A port another program has open is not taken from it: detaching ftdi_sio would pull the
    // tty from under that program.
    Status claim() override
    {
        if (claimed_)
            return Status::ok;
        for (const std::string &tty : sysfsTtys(info_.location)) {
            std::vector<PortHolder> holders = portHolders(tty);
            if (!holders.empty()) {
                detail_ = "its serial port /dev/" + tty + " is open in another program: " + holdersText(holders);
                return Status::busy;
            }
        }
        libusb_close(plain_);
        plain_ = nullptr;
        ftdi_->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
        int r = ftdi_usb_open_dev(ftdi_, dev_);
        if (r == 0) {
            claimed_ = true;
            return Status::ok;
        }
        if (r == -5) {
            detail_ = "the device is busy: another program has it open";
            return Status::busy;
        }
        libusb_device_handle *h = nullptr;
        int why = libusb_open(dev_, &h);
        if (why == 0) {
            libusb_close(h);
            detail_ = std::string("the port cannot be opened (") + ftdi_get_error_string(ftdi_) + ")";
            return Status::failed;
        }
        return openFailure(why, info_.bus, info_.address, detail_);
    }

    Status configure() override
    {
        if (ftdi_set_baudrate(ftdi_, kBaud) < 0 || ftdi_set_line_property(ftdi_, BITS_8, STOP_BIT_1, NONE) < 0 ||
            ftdi_setflowctrl(ftdi_, SIO_DISABLE_FLOW_CTRL) < 0 || ftdi_setdtr(ftdi_, 0) < 0)
            return gone() ? Status::gone : failure("the port cannot be configured");
        return Status::ok;
    }

    Status setTimeouts(uint32_t readMs, uint32_t writeMs) override
    {
        readTimeoutMs_ = readMs;
        ftdi_->usb_write_timeout = static_cast<int>(writeMs);
        return Status::ok;
    }

    Status write(const uint8_t *data, size_t size) override
    {
        int n = ftdi_write_data(ftdi_, data, static_cast<int>(size));
        if (n == static_cast<int>(size))
            return Status::ok;
        return gone() ? Status::gone : failure("writing failed");
    }

    // libftdi's read returns what has arrived, at the latest when the bridge's latency timer
    // sends its status bytes: read again until the count or the timeout, so a cancelled read
    // ends within one latency period. Any error but a timeout may be an unplug (a transfer cut
    // short ends in an I/O or pipe error first).
    Status read(uint8_t *buffer, size_t want, size_t &got) override
    {
        using Clock = std::chrono::steady_clock;
        got = 0;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(readTimeoutMs_);
        while (got < want) {
            if (cancelRequested()) {
                detail_ = "the read was given up";
                return Status::cancelled;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                break;
            ftdi_->usb_read_timeout = static_cast<int>(left);
            int n = ftdi_read_data(ftdi_, buffer + got, static_cast<int>(want - got));
            if (n < 0 && n != LIBUSB_ERROR_TIMEOUT)
                return gone() ? Status::gone : failure("reading failed");
            if (n > 0)
                got += static_cast<size_t>(n);
        }
        return Status::ok;
    }

    Status purgeReceive() override { return check(ftdi_tciflush(ftdi_), "purging failed"); }
    Status purgeTransmit() override { return check(ftdi_tcoflush(ftdi_), "purging failed"); }

    Status getLatencyTimer(uint8_t &ms) override
    {
        unsigned char value = 0;
        Status st = check(ftdi_get_latency_timer(ftdi_, &value), "reading the latency timer failed");
        ms = value;
        return st;
    }

    Status setLatencyTimer(uint8_t ms) override
    {
        return check(ftdi_set_latency_timer(ftdi_, ms), "setting the latency timer failed");
    }

private:
    libusb_device_handle *handle() const { return claimed_ ? ftdi_->usb_dev : plain_; }

    enum class Presence { answers, gone, unsure };

    // Still on the bus: it answers a harmless request (the modem status). A device that does
    // not answer is gone once libusb says so or sysfs no longer has it at its address.
    Presence presence()
    {
        unsigned char status[2];
        libusb_device_handle *h = handle();
        int r = h == nullptr ? LIBUSB_ERROR_NO_DEVICE
                             : libusb_control_transfer(h, kVendorIn, SIO_POLL_MODEM_STATUS_REQUEST, 0, 1, status,
                                                       sizeof status, kProbeTimeoutMs);
        if (r >= 0)
            return Presence::answers;
        if (r == LIBUSB_ERROR_NO_DEVICE || !sysfsDevicePresent(info_.location, info_.bus, info_.address))
            return Presence::gone;
        return Presence::unsure;
    }

    // After a failed call: says so and returns true when the device has left the bus. Pulled
    // out, it fails with I/O or pipe errors until its hub reports it (tens of milliseconds),
    // so a device that neither answers nor has gone is asked again for a while.
    bool gone()
    {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kUnplugNoticeMs);
        Presence p;
        while ((p = presence()) == Presence::unsure && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(kUnplugPollMs));
        if (p != Presence::gone)
            return false;
        detail_ = "the device was unplugged";
        return true;
    }

    Status check(int result, const char *what)
    {
        if (result >= 0)
            return Status::ok;
        return gone() ? Status::gone : failure(what);
    }

    Status failure(const char *what, Status status = Status::failed)
    {
        detail_ = std::string(what) + " (" + ftdi_get_error_string(ftdi_) + ")";
        return status;
    }

    ftdi_context *ftdi_;
    libusb_device *dev_;
    libusb_device_handle *plain_;
    DeviceInfo info_;
    bool claimed_ = false;
    uint32_t readTimeoutMs_ = 0;
};

class FtdiBackend : public Backend {
public:
    bool usbEvents() const override { return true; }

    // From sysfs alone: nothing is opened, so another program's port is left as it is.
    Status enumerate(std::vector<DeviceInfo> &devices) override
    {
        devices = sysfsDevices(kVendor, kProduct);
        return Status::ok;
    }

    Status open(const DeviceInfo &device, std::unique_ptr<MeterLink> &link) override
    {
        if (device.bus < 0) {
            detail_ = device.problem;
            return Status::failed;
        }
        // The link keeps the context: the device belongs to its libusb session.
        ftdi_context *ftdi = ftdi_new();
        if (ftdi == nullptr) {
            detail_ = "libftdi cannot start (out of memory)";
            return Status::failed;
        }
        libusb_device **list = nullptr;
        ssize_t n = libusb_get_device_list(ftdi->usb_ctx, &list);
        libusb_device *dev = nullptr;
        for (ssize_t i = 0; i < n && dev == nullptr; ++i)
            if (libusb_get_bus_number(list[i]) == device.bus && libusb_get_device_address(list[i]) == device.address)
                dev = libusb_ref_device(list[i]);
        if (list != nullptr)
            libusb_free_device_list(list, 1);
        if (dev == nullptr) {
            ftdi_free(ftdi);
            detail_ = n < 0 ? std::string("libusb cannot list the USB devices: ") + libusb_error_name(static_cast<int>(n))
                            : "the device is no longer attached";
            return n < 0 ? Status::failed : Status::notFound;
        }
        libusb_device_handle *plain = nullptr;
        int r = libusb_open(dev, &plain);
        if (r != 0) {
            libusb_unref_device(dev);
            ftdi_free(ftdi);
            return openFailure(r, device.bus, device.address, detail_);
        }
        link = std::make_unique<FtdiLink>(ftdi, dev, plain, device);
        return Status::ok;
    }
};

}  // namespace

std::unique_ptr<Backend> makeFtdiBackend(std::string &)
{
    return std::make_unique<FtdiBackend>();
}

}  // namespace kplx::link
