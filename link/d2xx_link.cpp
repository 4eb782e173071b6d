#include "link/d2xx_link.h"

#include "usb/eeprom_record.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kplx::link {

namespace {

constexpr ULONG kBaud = 115200;
constexpr size_t kSerialSize = 16;
constexpr size_t kDescriptionSize = 64;
constexpr WORD kMeterVendorId = 0x0403;
constexpr WORD kMeterProductId = 0x6001;
constexpr uint32_t kReadSliceMs = 100;          // a cancelled read ends within this
constexpr uint32_t kLongestWholeReadMs = 1000;

Status statusOf(FT_STATUS s)
{
    switch (s) {
    case FT_OK: return Status::ok;
    case FT_DEVICE_NOT_FOUND: return Status::notFound;
    case FT_DEVICE_NOT_OPENED: return Status::busy;
    case FT_NOT_SUPPORTED: return Status::unsupported;
    default: return Status::failed;
    }
}

// On an open handle the library says FT_IO_ERROR, or no longer finds the device, once it has
// been unplugged.
Status statusOnOpenHandle(FT_STATUS s)
{
    if (s == FT_IO_ERROR || s == FT_DEVICE_NOT_FOUND)
        return Status::gone;
    return statusOf(s);
}

std::string terminated(const char *buffer, size_t size)
{
    return std::string(buffer, strnlen(buffer, size));
}

class D2xxLink : public MeterLink {
public:
    D2xxLink(const DriverFunctions &f, const OptionalDriverFunctions &o, FT_HANDLE handle)
        : f_(f), o_(o), handle_(handle) {}
    ~D2xxLink() override { f_.close(handle_); }

    Status claim() override { return Status::ok; }   // FT_Open has taken the port already

    Status configure() override
    {
        // As the utility configures the meter's port: DTR low first, then the line.
        FT_STATUS s = f_.clrDtr(handle_);
        if (s == FT_OK) s = f_.setBaudRate(handle_, kBaud);
        if (s == FT_OK) s = f_.setDataCharacteristics(handle_, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE);
        if (s == FT_OK) s = f_.setFlowControl(handle_, FT_FLOW_NONE, 0, 0);
        return fail(s, "the port cannot be configured");
    }

    Status readEeprom(EepromRecord &record) override
    {
        FT_PROGRAM_DATA data;
        EepromStrings strings;
        prepareEepromRead(data, strings.manufacturer, strings.manufacturerId, strings.description,
                          strings.serialNumber, kMeterVendorId, kMeterProductId);
        FT_STATUS s = f_.eeRead(handle_, &data);
        if (s != FT_OK) {
            Status st = statusOnOpenHandle(s);
            detail_ = st == Status::gone ? "the device was unplugged" : "its EEPROM cannot be read";
            return st == Status::gone ? st : Status::eepromUnreadable;
        }
        record.values = identityFields(data, strings.description);
        record.description = std::string(record.values.description);
        record.values.description = {};   // it pointed at this function's buffer
        return Status::ok;
    }

    Status setTimeouts(uint32_t readMs, uint32_t writeMs) override
    {
        readTimeoutMs_ = readMs;
        const uint32_t libraryMs = sliced() ? kReadSliceMs : readMs;
        return failOpen(f_.setTimeouts(handle_, libraryMs, writeMs), "setting the timeouts failed");
    }

    Status write(const uint8_t *data, size_t size) override
    {
        DWORD written = 0;
        FT_STATUS s = f_.write(handle_, const_cast<uint8_t *>(data), static_cast<DWORD>(size), &written);
        if (s == FT_OK && written != size) {
            detail_ = "the write was cut short";
            return Status::failed;
        }
        return failOpen(s, "writing failed");
    }

    // FT_Read returns when it has `want` bytes or its timeout has passed, and nothing ends it
    // sooner. A long read is therefore made of slices: FT_Read with a short timeout, again
    // until `want` bytes are in or as many slices as make up the timeout came back empty (a
    // slice that brings bytes does not count, so a reply is never cut short), so that a
    // cancelled read ends within one slice.
    Status read(uint8_t *buffer, size_t want, size_t &got) override
    {
        got = 0;
        const uint32_t emptySlicesAllowed = sliced() ? (readTimeoutMs_ + kReadSliceMs - 1) / kReadSliceMs : 1;
        uint32_t emptySlices = 0;
        while (got < want && emptySlices < emptySlicesAllowed) {
            if (cancelRequested()) {
                detail_ = "the read was given up";
                return Status::cancelled;
            }
            DWORD n = 0;
            FT_STATUS s = f_.read(handle_, buffer + got, static_cast<DWORD>(want - got), &n);
            const size_t count = n <= want - got ? n : want - got;   // never trust a count beyond what was asked for
            got += count;
            if (s != FT_OK)
                return failOpen(s, "reading failed");
            if (count == 0)
                ++emptySlices;
        }
        return Status::ok;
    }

    Status purgeReceive() override { return failOpen(f_.purge(handle_, FT_PURGE_RX), "purging failed"); }
    Status purgeTransmit() override { return failOpen(f_.purge(handle_, FT_PURGE_TX), "purging failed"); }

    Status getLatencyTimer(uint8_t &ms) override
    {
        if (o_.getLatencyTimer == nullptr)
            return unsupported("FT_GetLatencyTimer");
        UCHAR value = 0;
        Status st = failOpen(o_.getLatencyTimer(handle_, &value), "reading the latency timer failed");
        ms = value;
        return st;
    }

    Status setLatencyTimer(uint8_t ms) override
    {
        if (o_.setLatencyTimer == nullptr)
            return unsupported("FT_SetLatencyTimer");
        return failOpen(o_.setLatencyTimer(handle_, ms), "setting the latency timer failed");
    }

private:
    Status fail(FT_STATUS s, const char *what)
    {
        if (s == FT_OK)
            return Status::ok;
        detail_ = std::string(what) + " (D2XX status " + std::to_string(s) + ")";
        return statusOf(s);
    }

    Status failOpen(FT_STATUS s, const char *what)
    {
        Status st = statusOnOpenHandle(s);
        if (st == Status::gone)
            detail_ = "the device was unplugged";
        else if (st != Status::ok)
            fail(s, what);
        return st;
    }

    Status unsupported(const char *function)
    {
        detail_ = std::string("the D2XX library has no ") + function;
        return Status::unsupported;
    }

    // Reads of a second or less (the version query's 200 ms) are left whole.
    bool sliced() const { return readTimeoutMs_ > kLongestWholeReadMs; }

    DriverFunctions f_;
    OptionalDriverFunctions o_;
    FT_HANDLE handle_;
    uint32_t readTimeoutMs_ = 0;
};

class D2xxBackend : public Backend {
public:
    D2xxBackend(const DriverFunctions &f, const OptionalDriverFunctions &o, const DeviceListFunctions &l)
        : f_(f), o_(o), l_(l) {}

    // FT_ListDevices tells each device's serial number and description by index without
    // opening it, so a device another program holds is listed like any other and nothing is
    // opened that is not a meter. The device information list, where the library has it, tells
    // where each is plugged in too.
    Status enumerate(std::vector<DeviceInfo> &devices) override
    {
        devices.clear();
        if (knowsLocations())
            return enumerateDetailed(devices);
        DWORD count = 0;
        FT_STATUS s = f_.listDevices(&count, nullptr, FT_LIST_NUMBER_ONLY);
        if (s != FT_OK)
            return listingFailed(s);
        for (DWORD i = 0; i < count; ++i) {
            DeviceInfo info;
            info.index = static_cast<int>(i);
            if (!listed(i, FT_OPEN_BY_SERIAL_NUMBER, info.serial) ||
                !listed(i, FT_OPEN_BY_DESCRIPTION, info.description))
                info.problem = "the D2XX library does not tell its serial number and description";
            devices.push_back(info);
        }
        return Status::ok;
    }

    bool knowsLocations() const override { return l_.create != nullptr && l_.detail != nullptr; }
    std::string locationsMissing() const override
    {
        return "this D2XX library cannot tell without FT_GetDeviceInfoDetail";
    }

    // Opened by index, then checked against the listing: it may have moved meanwhile.
    Status open(const DeviceInfo &device, std::unique_ptr<MeterLink> &link) override
    {
        FT_HANDLE handle = nullptr;
        FT_STATUS s = f_.open(device.index, &handle);
        if (s != FT_OK) {
            detail_ = s == FT_DEVICE_NOT_OPENED ? "another program has it open"
                                                : "D2XX status " + std::to_string(s);
            return statusOf(s);
        }
        char serial[kSerialSize] = {};
        char description[kDescriptionSize] = {};
        FT_DEVICE type = 0;
        DWORD id = 0;
        if (f_.getDeviceInfo(handle, &type, &id, serial, description, nullptr) != FT_OK ||
            // FT_GetDeviceInfo's serial buffer is shorter than the listing's.
            terminated(serial, sizeof serial) != device.serial.substr(0, kSerialSize - 1) ||
            terminated(description, sizeof description) != device.description.substr(0, kDescriptionSize - 1)) {
            f_.close(handle);
            detail_ = "the device moved while it was being opened; try again";
            return Status::notFound;
        }
        link = std::make_unique<D2xxLink>(f_, o_, handle);
        return Status::ok;
    }

private:
    Status listingFailed(FT_STATUS s)
    {
        detail_ = "the D2XX library cannot list the devices (status " + std::to_string(s) + ")";
        return statusOf(s);
    }

    // FT_CreateDeviceInfoList takes a snapshot of the devices, FT_GetDeviceInfoDetail reads it
    // by the index FT_Open takes; neither opens a device.
    Status enumerateDetailed(std::vector<DeviceInfo> &devices)
    {
        DWORD count = 0;
        FT_STATUS s = l_.create(&count);
        if (s != FT_OK)
            return listingFailed(s);
        for (DWORD i = 0; i < count; ++i) {
            DeviceInfo info;
            info.index = static_cast<int>(i);
            DWORD flags = 0, type = 0, id = 0, locId = 0;
            char serial[FT_INFO_SERIAL_SIZE] = {};
            char description[FT_INFO_DESCRIPTION_SIZE] = {};
            FT_HANDLE handle = nullptr;
            if (l_.detail(i, &flags, &type, &id, &locId, serial, description, &handle) != FT_OK) {
                info.problem = "the D2XX library does not tell what it is";
            } else {
                info.serial = terminated(serial, sizeof serial);
                info.description = terminated(description, sizeof description);
                if (locId != 0) {
                    char text[16];
                    std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(locId));
                    info.location = text;
                }
                if ((flags & FT_FLAGS_OPENED) != 0 && info.serial.empty() && info.description.empty())
                    info.problem = "another program has it open, so the D2XX library does not tell what it is";
                info.openHere = handle != nullptr;
            }
            devices.push_back(info);
        }
        return Status::ok;
    }

    bool listed(DWORD index, DWORD which, std::string &text)
    {
        char buffer[FT_LIST_STRING_SIZE] = {};
        if (f_.listDevices(reinterpret_cast<PVOID>(static_cast<uintptr_t>(index)), buffer, FT_LIST_BY_INDEX | which) != FT_OK)
            return false;
        text = terminated(buffer, sizeof buffer);
        return true;
    }

    DriverFunctions f_;
    OptionalDriverFunctions o_;
    DeviceListFunctions l_;
};

}  // namespace

void bindDeviceListFunctions(DriverLookup lookup, void *context, DeviceListFunctions &f)
{
    f.create = reinterpret_cast<FtCreateDeviceInfoListFn>(lookup(context, 0, "FT_CreateDeviceInfoList"));
    f.detail = reinterpret_cast<FtGetDeviceInfoDetailFn>(lookup(context, 0, "FT_GetDeviceInfoDetail"));
    if (f.create == nullptr || f.detail == nullptr)
        f = DeviceListFunctions();   // one without the other is no use
}

std::unique_ptr<Backend> makeD2xxBackend(const DriverFunctions &functions, const OptionalDriverFunctions &optional,
                                         const DeviceListFunctions &list)
{
    return std::make_unique<D2xxBackend>(functions, optional, list);
}

}  // namespace kplx::link
