#include "link/ftdi_link.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace kplx::link {

namespace {

constexpr int kVendor = 0x0403;
constexpr int kProduct = 0x6001;
constexpr int kBaud = 115200;
constexpr int kEepromSize = 128;           // an FT232R's
constexpr int kEepromBufferSize = 256;     // what libftdi reads and keeps
constexpr uint8_t kVendorIn = 0xC0;        // vendor request, device to host
constexpr int kProbeTimeoutMs = 200;

std::string nodeOf(libusb_device *dev)
{
    char path[64];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(dev),
                  libusb_get_device_address(dev));
    return path;
}

std::string noPermission(const std::string &node)
{
    return "no permission on " + node + ": install kplx's udev rule (60-kplx.rules, see the README) or run as root";
}

// Why libusb cannot open the device, where libftdi only says that it could not.
Status whyNotOpened(libusb_device *dev, std::string &detail)
{
    libusb_device_handle *h = nullptr;
    int r = libusb_open(dev, &h);
    if (r == 0) {
        libusb_close(h);
        detail = "the port cannot be opened";
        return Status::failed;
    }
    if (r == LIBUSB_ERROR_ACCESS) {
        detail = noPermission(nodeOf(dev));
        return Status::noAccess;
    }
    if (r == LIBUSB_ERROR_NO_DEVICE) {
        detail = "the device was unplugged";
        return Status::gone;
    }
    detail = std::string("the port cannot be opened: ") + libusb_error_name(r);
    return Status::failed;
}

// The FT232R's EEPROM checksum: start 0xAAAA; for each word before the last, xor, then rotate
// left by one. Checked here, before libftdi's decode would refuse the image (and say so on
// stderr).
bool checksumOk(const unsigned char *image)
{
    unsigned sum = 0xAAAA;
    for (int i = 0; i < kEepromSize - 2; i += 2) {
        sum ^= static_cast<unsigned>(image[i] | image[i + 1] << 8);
        sum = ((sum << 1) | (sum >> 15)) & 0xFFFF;
    }
    return sum == static_cast<unsigned>(image[kEepromSize - 2] | image[kEepromSize - 1] << 8);
}

// One libftdi context and what it found, freed together.
struct Context {
    ftdi_context *ftdi = ftdi_new();
    ftdi_device_list *list = nullptr;
    std::vector<libusb_device *> devices;   // in bus and address order

    ~Context()
    {
        if (list != nullptr)
            ftdi_list_free(&list);
        if (ftdi != nullptr)
            ftdi_free(ftdi);
    }
    Context() = default;
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    int find()
    {
        int n = ftdi_usb_find_all(ftdi, &list, kVendor, kProduct);
        for (ftdi_device_list *p = list; n > 0 && p != nullptr; p = p->next)
            devices.push_back(p->dev);
        std::sort(devices.begin(), devices.end(), [](libusb_device *a, libusb_device *b) {
            return std::make_pair(libusb_get_bus_number(a), libusb_get_device_address(a)) <
                   std::make_pair(libusb_get_bus_number(b), libusb_get_device_address(b));
        });
        return n;
    }

    // Reads the strings, which needs the device opened (not claimed).
    bool ask(libusb_device *dev, DeviceInfo &info)
    {
        char description[128] = {}, serial[128] = {};
        if (ftdi_usb_get_strings(ftdi, dev, nullptr, 0, description, sizeof description, serial, sizeof serial) == 0) {
            info.serial = serial;
            info.description = description;
            return true;
        }
        whyNotOpened(dev, info.problem);
        return false;
    }
};

class FtdiLink : public MeterLink {
public:
    explicit FtdiLink(ftdi_context *ftdi) : ftdi_(ftdi) {}
    ~FtdiLink() override
    {
        // Releasing the interface hands the device back to ftdi_sio, so it is /dev/ttyUSB* again.
        ftdi_usb_close(ftdi_);
        ftdi_free(ftdi_);
    }

    Status configure() override
    {
        if (ftdi_set_baudrate(ftdi_, kBaud) < 0 || ftdi_set_line_property(ftdi_, BITS_8, STOP_BIT_1, NONE) < 0 ||
            ftdi_setflowctrl(ftdi_, SIO_DISABLE_FLOW_CTRL) < 0 || ftdi_setdtr(ftdi_, 0) < 0)
            return failure("the port cannot be configured");
        return Status::ok;
    }

    Status readEeprom(EepromRecord &record) override
    {
        if (ftdi_read_eeprom(ftdi_) < 0)
            return failure("its EEPROM cannot be read", Status::eepromUnreadable);
        unsigned char image[kEepromBufferSize] = {};
        if (ftdi_get_eeprom_buf(ftdi_, image, kEepromBufferSize) < 0 || !checksumOk(image)) {
            detail_ = "its EEPROM has a bad checksum";
            return Status::eepromUnreadable;
        }
        if (ftdi_eeprom_decode(ftdi_, 0) < 0)
            return failure("its EEPROM cannot be decoded", Status::eepromUnreadable);
        int selfPowered = 0, invert = 0, cbus4 = 0;
        char manufacturer[128] = {}, product[128] = {}, serial[128] = {};
        if (ftdi_get_eeprom_value(ftdi_, SELF_POWERED, &selfPowered) < 0 ||
            ftdi_get_eeprom_value(ftdi_, INVERT, &invert) < 0 ||
            ftdi_get_eeprom_value(ftdi_, CBUS_FUNCTION_4, &cbus4) < 0 ||
            ftdi_eeprom_get_strings(ftdi_, manufacturer, sizeof manufacturer, product, sizeof product, serial,
                                    sizeof serial) < 0)
            return failure("its EEPROM cannot be decoded", Status::eepromUnreadable);
        record.values.pnp = 0;   // the FT232R has no PnP bit: a meter's never sets one
        record.values.selfPowered = selfPowered ? 1 : 0;
        record.values.invertTxd = (invert & INVERT_TXD) ? 1 : 0;
        record.values.invertRxd = (invert & INVERT_RXD) ? 1 : 0;
        record.values.invertDtr = (invert & INVERT_DTR) ? 1 : 0;
        record.values.cbus4 = static_cast<uint8_t>(cbus4);
        record.description = product;
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
        if (!present()) {
            detail_ = "the device was unplugged";
            return Status::gone;
        }
        return failure("writing failed");
    }

    // libftdi's read returns what has arrived, at the latest when the bridge's latency timer
    // sends its status bytes: read again until the count or the timeout. So a cancelled read
    // ends within one latency period.
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
            if (n == LIBUSB_ERROR_NO_DEVICE) {
                detail_ = "the device was unplugged";
                return Status::gone;
            }
            if (n < 0 && n != LIBUSB_ERROR_TIMEOUT)
                return failure("reading failed");
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

    Status setEventChar(uint8_t character, bool enabled) override
    {
        return check(ftdi_set_event_char(ftdi_, character, enabled ? 1 : 0), "setting the event character failed");
    }

private:
    bool present()
    {
        unsigned char status[2];
        return libusb_control_transfer(ftdi_->usb_dev, kVendorIn, SIO_POLL_MODEM_STATUS_REQUEST, 0, 1,
                                       status, sizeof status, kProbeTimeoutMs) != LIBUSB_ERROR_NO_DEVICE;
    }

    Status check(int result, const char *what)
    {
        if (result >= 0)
            return Status::ok;
        if (!present()) {
            detail_ = "the device was unplugged";
            return Status::gone;
        }
        return failure(what);
    }

    Status failure(const char *what, Status status = Status::failed)
    {
        detail_ = std::string(what) + " (" + ftdi_get_error_string(ftdi_) + ")";
        return status;
    }

    ftdi_context *ftdi_;
    uint32_t readTimeoutMs_ = 0;
};

class FtdiBackend : public Backend {
public:
    Status enumerate(std::vector<DeviceInfo> &devices) override
    {
        devices.clear();
        Context c;
        if (c.ftdi == nullptr || c.find() < 0) {
            detail_ = std::string("libftdi cannot list the USB devices: ") +
                      (c.ftdi ? ftdi_get_error_string(c.ftdi) : "out of memory");
            return Status::failed;
        }
        for (size_t i = 0; i < c.devices.size(); ++i) {
            DeviceInfo info;
            info.index = static_cast<int>(i);
            c.ask(c.devices[i], info);
            devices.push_back(info);
        }
        return Status::ok;
    }

    Status open(const std::string &serial, std::unique_ptr<MeterLink> &link) override
    {
        Context c;
        if (c.ftdi == nullptr || c.find() < 0) {
            detail_ = "libftdi cannot list the USB devices";
            return Status::failed;
        }
        for (libusb_device *dev : c.devices) {
            DeviceInfo info;
            if (!c.ask(dev, info) || info.serial != serial)
                continue;
            // The device belongs to this context's libusb session: the link takes the context.
            c.ftdi->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
            int r = ftdi_usb_open_dev(c.ftdi, dev);
            if (r == 0) {
                link = std::make_unique<FtdiLink>(c.ftdi);
                c.ftdi = nullptr;
                return Status::ok;
            }
            if (r == -5) {
                detail_ = "the device is busy: another program has it open";
                return Status::busy;
            }
            return whyNotOpened(dev, detail_);
        }
        detail_ = "no device with serial number " + serial;
        return Status::notFound;
    }
};

}  // namespace

std::unique_ptr<Backend> makeFtdiBackend(std::string &)
{
    return std::make_unique<FtdiBackend>();
}

}  // namespace kplx::link
