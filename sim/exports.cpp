// The D2XX entry points: the thirteen the utility binds by ordinal and those clients bind by
// name. In the DLL they are the exports (named and numbered by the .def file); natively they
// are reached only through procByOrdinal and lookupProc.
#include "sim/eeprom.h"
#include "sim/internal.h"
#include "sim/lock.h"
#include "usb/d2xx.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#if defined(_WIN32)
#define SIM_ENTRY extern "C" FT_STATUS WINAPI
#else
#define SIM_ENTRY static FT_STATUS
#endif

using sim::detail::Device;
using sim::detail::state;

namespace {

constexpr DWORD kListByIndex = 0x40000000UL;
constexpr DWORD kListAll = 0x20000000UL;
constexpr DWORD kBySerial = 1;
constexpr DWORD kByDescription = 2;
constexpr size_t kListStringSize = 64;
constexpr size_t kInfoSerialSize = 16;
constexpr size_t kInfoDescriptionSize = 64;
// The simulated library's own ordinals for the functions that clients bind by name (the same
// numbers as in CMakeLists.txt's export table).
constexpr int kOrdinalSetLatencyTimer = 70;
constexpr int kOrdinalGetLatencyTimer = 71;
constexpr int kOrdinalSetChars = 72;
constexpr int kOrdinalCreateDeviceInfoList = 73;
constexpr int kOrdinalGetDeviceInfoDetail = 74;

// Every entry point first loads the configuration and applies the plug-ins and pull-outs due.
void catchUp() {
    sim::detail::ensureLoaded();
    sim::detail::applyTimeline();
}

// The handle's device, or why there is none usable. A handle of a device pulled out (or of
// an earlier plug-in of it) fails with FT_IO_ERROR until it is closed.
FT_STATUS usable(FT_HANDLE handle, Device *&device) {
    catchUp();
    device = sim::detail::byHandle(handle);
    if (device == nullptr) return sim::detail::byStaleHandle(handle) != nullptr ? FT_IO_ERROR : FT_INVALID_HANDLE;
    return device->plugged ? FT_OK : FT_IO_ERROR;
}

// A read waits for its bytes or its timeout, and fails if the device is pulled out meanwhile.
FT_STATUS readBytes(FT_HANDLE handle, uint8_t *buffer, DWORD count, DWORD &got, sim::detail::Lock &lock) {
    got = 0;
    Device *d = nullptr;
    FT_STATUS s = usable(handle, d);
    if (s != FT_OK || count == 0) return s;
    double timeout = d->port.readTimeoutMs != 0 ? d->port.readTimeoutMs : sim::detail::kEndlessReadMs;
    double deadline = sim::nowMs() + timeout;
    for (;;) {
        bool pieceEnded = false;
        got += static_cast<DWORD>(sim::detail::takeReadable(*d, buffer + got, count - got, sim::nowMs(), true, pieceEnded));
        if (got == count || pieceEnded) return FT_OK;
        double next = d->bridge.host().empty() ? d->bridge.nextSendMs() : d->bridge.host().front().atMs;
        bool timesOut = next > deadline;
        double until = timesOut ? deadline : next;
        if (d->pullOutMs <= until) {
            until = d->pullOutMs;
            timesOut = false;
        }
        sim::detail::waitUntil(until, &lock);
        // The lock may have been let go: the device may have gone, or come back as a new one.
        s = usable(handle, d);
        if (s != FT_OK) return s;
        if (timesOut) return FT_OK;
    }
}

const std::string *listString(const Device &d, DWORD flags) {
    if ((flags & kBySerial) != 0) return &d.config.eeprom.serialNumber;
    return &d.config.eeprom.description;
}

}  // namespace

SIM_ENTRY FT_Open(int deviceNumber, FT_HANDLE *handle) {
    sim::detail::Lock lock;
    catchUp();
    if (handle == nullptr) return FT_INVALID_PARAMETER;
    Device *d = sim::detail::listed(deviceNumber);
    if (d == nullptr) return FT_DEVICE_NOT_FOUND;
    if (d->handle != 0 || d->config.faults.openFails) return FT_DEVICE_NOT_OPENED;
    d->handle = sim::detail::newHandle();
    sim::detail::openDevice(*d, true);   // the driver keeps a read pending
    *handle = reinterpret_cast<FT_HANDLE>(d->handle);
    return FT_OK;
}

SIM_ENTRY FT_Close(FT_HANDLE handle) {
    sim::detail::Lock lock;
    Device *d = nullptr;
    if (usable(handle, d) == FT_INVALID_HANDLE) return FT_INVALID_HANDLE;
    if (d == nullptr) {
        // A handle of an earlier plug-in: released, and the device as it is now left alone.
        Device *old = sim::detail::byStaleHandle(handle);
        std::vector<uintptr_t> &stale = old->staleHandles;
        stale.erase(std::find(stale.begin(), stale.end(), reinterpret_cast<uintptr_t>(handle)));
        old->calls.push_back("close");
        sim::writeOutputs();
        return FT_OK;
    }
    // An unplugged device's handle is released all the same.
    d->handle = 0;
    sim::detail::closeDevice(*d);
    return FT_OK;
}

SIM_ENTRY FT_Read(FT_HANDLE handle, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesReturned) {
    sim::detail::Lock lock;
    Device *d = nullptr;
    FT_STATUS s = usable(handle, d);
    if (bytesReturned != nullptr) *bytesReturned = 0;
    if (s != FT_OK) return s;
    if (buffer == nullptr || bytesReturned == nullptr) return FT_INVALID_PARAMETER;
    return readBytes(handle, static_cast<uint8_t *>(buffer), bytesToRead, *bytesReturned, lock);
}

SIM_ENTRY FT_Write(FT_HANDLE handle, LPVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten) {
    sim::detail::Lock lock;
    Device *d = nullptr;
    FT_STATUS s = usable(handle, d);
    if (bytesWritten != nullptr) *bytesWritten = 0;
    if (s != FT_OK) return s;
    if (buffer == nullptr || bytesWritten == nullptr) return FT_INVALID_PARAMETER;
    sim::detail::deliver(*d, static_cast<const uint8_t *>(buffer), bytesToWrite, sim::nowMs());
    *bytesWritten = bytesToWrite;
    return FT_OK;
}

SIM_ENTRY FT_SetBaudRate(FT_HANDLE handle, ULONG baudRate) {
    sim::detail::Lock lock;
    Device *d = nullptr;
    FT_STATUS s = usable(handle, d);
    if (s != FT_OK) return s;
    // The FT232R's divisors reach from 183 baud to 3 Mbaud.
    if (baudRate < 183 || baudRate > 3000000) return FT_INVALID_BAUD_RATE;
    d->port.baudRate = baudRate;
    return FT_OK;
}

SIM_ENTRY FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity) {
    sim::detail::Lock lock;
    Device *d = nullptr;
    FT_STATUS s = usable(handle, d);
    if (s != FT_OK) return s;
    if ((wordLength != 7 && wordLength != 8) || (stopBits != 0 && stopBits != 2) || parity > 4)
        return FT_INVALID_PARAMETER;
    d->port.wordLength = wordLength;
    d->port.stopBits = stopBits;
    d->port.parity = parity;
    return FT_OK;
}

SIM_ENTRY FT_SetFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR, UCHAR) {
    sim::detail::Lock lock;
    Device *d = nullptr;
    FT_STATUS s = usable(handle, d);
    if (s != FT_OK) return s;
    d->port.flowControl = flowControl;
    return FT_OK;
}

SIM_ENTRY FT_ClrDtr(FT_HANDLE handle) {
    sim::detail::Lock lock;
    Device *d = nullptr;
    FT_STATUS s = usable(handle, d);
    if (s != FT_OK) return s;
    d->port.dtrCleared = true;
    return FT_OK;
}

SIM_ENTRY FT_Purge(FT_HANDLE handle, ULONG mask) {
    sim::detail::Lock lock;
    Device *d = nullptr;
    FT_STATUS s = usable(handle, d);
    if (s != FT_OK) return s;
    if ((mask & FT_PURGE_RX) != 0) {
        d->bridge.purge(sim::nowMs());   // what is still on the wire arrives after the purge
        ++d->port.rxPurges;
    }
    if ((mask & FT_PURGE_TX) != 0) ++d->port.txPurges;   // writes reach the meter at once
    return FT_OK;
}

SIM_ENTRY FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout) {
    sim::detail::Lock lock;
    Device *d = nullptr;
    FT_STATUS s = usable(handle, d);
    if (s != FT_OK) return s;
    d->port.readTimeoutMs = readTimeout;
    d->port.writeTimeoutMs = writeTimeout;
    return FT_OK;
}

SIM_ENTRY FT_ListDevices(PVOID arg1, PVOID arg2, DWORD flags) {
    sim::detail::Lock lock;
    catchUp();
    int count = sim::detail::listedCount();
    if ((flags & FT_LIST_NUMBER_ONLY) != 0) {
        if (arg1 == nullptr) return FT_INVALID_PARAMETER;
        *static_cast<DWORD *>(arg1) = static_cast<DWORD>(count);
        return FT_OK;
    }
    if ((flags & (kBySerial | kByDescription)) == 0) return FT_NOT_SUPPORTED;
    if ((flags & kListByIndex) != 0) {
        if (arg2 == nullptr) return FT_INVALID_PARAMETER;
        DWORD index = static_cast<DWORD>(reinterpret_cast<uintptr_t>(arg1));
        Device *d = index < static_cast<DWORD>(count) ? sim::detail::listed(static_cast<int>(index)) : nullptr;
        if (d == nullptr) return FT_DEVICE_NOT_FOUND;
        sim::detail::copyBounded(static_cast<char *>(arg2), *listString(*d, flags), kListStringSize);
        return FT_OK;
    }
    if ((flags & kListAll) != 0) {
        if (arg1 == nullptr || arg2 == nullptr) return FT_INVALID_PARAMETER;
        char **buffers = static_cast<char **>(arg1);
        for (int i = 0; i < count; ++i) {
            if (buffers[i] == nullptr) return FT_INVALID_PARAMETER;
            sim::detail::copyBounded(buffers[i], *listString(*sim::detail::listed(i), flags), kListStringSize);
        }
        *static_cast<DWORD *>(arg2) = static_cast<DWORD>(count);
        return FT_OK;
    }
    return FT_NOT_SUPPORTED;
}

SIM_ENTRY FT_EE_Read(FT_HANDLE handle, PFT_PROGRAM_DATA data) {
    sim::detail::Lock lock;
    Device *d = nullptr;
    FT_STATUS s = usable(handle, d);
    if (s != FT_OK) return s;
    if (data == nullptr) return FT_INVALID_PARAMETER;
    if (d->config.faults.eepromDelayMs > 0) {
        // A slow EEPROM: the device may be pulled out meanwhile.
        sim::detail::waitUntil(sim::nowMs() + d->config.faults.eepromDelayMs, &lock);
        s = usable(handle, d);
        if (s != FT_OK) return s;
    }
    const sim::Faults &f = d->config.faults;
    if (f.eepromReadFails || f.eepromBadChecksum || (f.eepromFailFromOpen >= 0 && d->opens - 1 >= f.eepromFailFromOpen))
        return FT_EEPROM_READ_FAILED;
    return sim::detail::fillProgramData(d->config.eeprom, data, !f.eepromPartial);
}

SIM_ENTRY FT_GetDeviceInfo(FT_HANDLE handle, FT_DEVICE *type, LPDWORD id, PCHAR serialNumber, PCHAR description,
                           LPVOID) {
    sim::detail::Lock lock;
    Device *d = nullptr;
    FT_STATUS s = usable(handle, d);
    if (s != FT_OK) return s;
    if (type == nullptr || id == nullptr || serialNumber == nullptr || description == nullptr)
        return FT_INVALID_PARAMETER;
    *type = FT_DEVICE_232R;
    *id = (static_cast<DWORD>(d->config.eeprom.vendorId) << 16) | d->config.eeprom.productId;
    sim::detail::copyBounded(serialNumber, d->config.eeprom.serialNumber, kInfoSerialSize);
    sim::detail::copyBounded(description, d->config.eeprom.description, kInfoDescriptionSize);
    return FT_OK;
}

SIM_ENTRY FT_SetLatencyTimer(FT_HANDLE handle, UCHAR latencyMs) {
    sim::detail::Lock lock;
    Device *d = nullptr;
    FT_STATUS s = usable(handle, d);
    if (s != FT_OK) return s;
    // 1 to 255 ms (FTDI's latency-timer notes); 0 is no period at all.
    if (latencyMs < 1) return FT_INVALID_PARAMETER;
    d->bridge.setLatency(latencyMs, sim::nowMs());
    d->port.latencySets.push_back(latencyMs);
    d->calls.push_back("latency " + std::to_string(latencyMs));
    return FT_OK;
}

SIM_ENTRY FT_GetLatencyTimer(FT_HANDLE handle, UCHAR *latencyMs) {
    sim::detail::Lock lock;
    Device *d = nullptr;
    FT_STATUS s = usable(handle, d);
    if (s != FT_OK) return s;
    if (latencyMs == nullptr) return FT_INVALID_PARAMETER;
    *latencyMs = d->bridge.latency();
    return FT_OK;
}

SIM_ENTRY FT_SetChars(FT_HANDLE handle, UCHAR eventChar, UCHAR eventCharEnabled, UCHAR, UCHAR) {
    sim::detail::Lock lock;
    Device *d = nullptr;
    FT_STATUS s = usable(handle, d);
    if (s != FT_OK) return s;
    d->bridge.setEventChar(eventChar, eventCharEnabled != 0, sim::nowMs());
    d->port.eventChars.push_back(eventCharEnabled != 0 ? eventChar : -1);
    return FT_OK;
}

// The device information list, after the D2XX Programmer's Guide (FT_CreateDeviceInfoList,
// FT_GetDeviceInfoDetail): a snapshot of the devices present, which later changes do not touch
// until the list is made again. "Location ID information is not returned for devices that are
// open when FT_CreateDeviceInfoList is called"; for a device open in another process (here:
// open-fail) the flags say it is open "but other fields will be unpopulated".
SIM_ENTRY FT_CreateDeviceInfoList(LPDWORD numDevs) {
    sim::detail::Lock lock;
    catchUp();
    if (numDevs == nullptr) return FT_INVALID_PARAMETER;
    std::vector<sim::detail::InfoNode> list;
    // In the listing's order: the present devices in the order of adding.
    for (size_t index = 0; index < state().devices.size(); ++index) {
        const Device &d = state().devices[index];
        if (!d.plugged) continue;
        sim::detail::InfoNode n;
        if (d.config.faults.openFails) {
            n.flags = FT_FLAGS_OPENED;
            n.type = FT_DEVICE_UNKNOWN;
        } else {
            n.flags = d.handle != 0 ? FT_FLAGS_OPENED : 0;   // full speed: FT_FLAGS_HISPEED never
            n.type = FT_DEVICE_232R;
            n.id = (static_cast<uint32_t>(d.config.eeprom.vendorId) << 16) | d.config.eeprom.productId;
            n.locId = d.handle != 0 ? 0 : sim::locationId(sim::usbPort(static_cast<int>(index)));
            n.serial = d.config.eeprom.serialNumber;
            n.description = d.config.eeprom.description;
            n.handle = d.handle;
        }
        list.push_back(n);
    }
    state().infoList = list;
    *numDevs = static_cast<DWORD>(list.size());
    return FT_OK;
}

SIM_ENTRY FT_GetDeviceInfoDetail(DWORD index, LPDWORD flags, LPDWORD type, LPDWORD id, LPDWORD locId,
                                 LPVOID serialNumber, LPVOID description, FT_HANDLE *handle) {
    sim::detail::Lock lock;
    catchUp();
    const std::vector<sim::detail::InfoNode> &list = state().infoList;
    if (index >= list.size()) return FT_DEVICE_NOT_FOUND;
    if (flags == nullptr || type == nullptr || id == nullptr || locId == nullptr || serialNumber == nullptr ||
        description == nullptr || handle == nullptr)
        return FT_INVALID_PARAMETER;
    const sim::detail::InfoNode &n = list[index];
    *flags = n.flags;
    *type = n.type;
    *id = n.id;
    *locId = n.locId;
    sim::detail::copyBounded(static_cast<char *>(serialNumber), n.serial, FT_INFO_SERIAL_SIZE);
    sim::detail::copyBounded(static_cast<char *>(description), n.description, FT_INFO_DESCRIPTION_SIZE);
    *handle = reinterpret_cast<FT_HANDLE>(n.handle);
    return FT_OK;
}

// The entry points must match the types the client binds them as, calling convention included.
static_assert(std::is_same<decltype(&FT_Open), FtOpenFn>::value, "FT_Open");
static_assert(std::is_same<decltype(&FT_Close), FtCloseFn>::value, "FT_Close");
static_assert(std::is_same<decltype(&FT_Read), FtReadFn>::value, "FT_Read");
static_assert(std::is_same<decltype(&FT_Write), FtWriteFn>::value, "FT_Write");
static_assert(std::is_same<decltype(&FT_SetBaudRate), FtSetBaudRateFn>::value, "FT_SetBaudRate");
static_assert(std::is_same<decltype(&FT_SetDataCharacteristics), FtSetDataCharacteristicsFn>::value, "FT_SetDataCharacteristics");
static_assert(std::is_same<decltype(&FT_SetFlowControl), FtSetFlowControlFn>::value, "FT_SetFlowControl");
static_assert(std::is_same<decltype(&FT_ClrDtr), FtClrDtrFn>::value, "FT_ClrDtr");
static_assert(std::is_same<decltype(&FT_Purge), FtPurgeFn>::value, "FT_Purge");
static_assert(std::is_same<decltype(&FT_SetTimeouts), FtSetTimeoutsFn>::value, "FT_SetTimeouts");
static_assert(std::is_same<decltype(&FT_ListDevices), FtListDevicesFn>::value, "FT_ListDevices");
static_assert(std::is_same<decltype(&FT_EE_Read), FtEeReadFn>::value, "FT_EE_Read");
static_assert(std::is_same<decltype(&FT_GetDeviceInfo), FtGetDeviceInfoFn>::value, "FT_GetDeviceInfo");
static_assert(std::is_same<decltype(&FT_SetLatencyTimer), FtSetLatencyTimerFn>::value, "FT_SetLatencyTimer");
static_assert(std::is_same<decltype(&FT_GetLatencyTimer), FtGetLatencyTimerFn>::value, "FT_GetLatencyTimer");
static_assert(std::is_same<decltype(&FT_SetChars), FtSetCharsFn>::value, "FT_SetChars");
static_assert(std::is_same<decltype(&FT_CreateDeviceInfoList), FtCreateDeviceInfoListFn>::value, "FT_CreateDeviceInfoList");
static_assert(std::is_same<decltype(&FT_GetDeviceInfoDetail), FtGetDeviceInfoDetailFn>::value, "FT_GetDeviceInfoDetail");

namespace sim {

namespace {

struct Entry {
    int ordinal;
    const char *name;
    Proc proc;
};

// Through void (*)(), the generic function pointer type, which the compilers accept quietly.
template <typename F> Proc asProc(F f) { return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(f)); }

const Entry kEntries[] = {
    {FT_ORDINAL_OPEN, "FT_Open", asProc(&FT_Open)},
    {FT_ORDINAL_CLOSE, "FT_Close", asProc(&FT_Close)},
    {FT_ORDINAL_READ, "FT_Read", asProc(&FT_Read)},
    {FT_ORDINAL_WRITE, "FT_Write", asProc(&FT_Write)},
    {FT_ORDINAL_SET_BAUD_RATE, "FT_SetBaudRate", asProc(&FT_SetBaudRate)},
    {FT_ORDINAL_SET_DATA_CHARACTERISTICS, "FT_SetDataCharacteristics", asProc(&FT_SetDataCharacteristics)},
    {FT_ORDINAL_SET_FLOW_CONTROL, "FT_SetFlowControl", asProc(&FT_SetFlowControl)},
    {FT_ORDINAL_CLR_DTR, "FT_ClrDtr", asProc(&FT_ClrDtr)},
    {FT_ORDINAL_PURGE, "FT_Purge", asProc(&FT_Purge)},
    {FT_ORDINAL_SET_TIMEOUTS, "FT_SetTimeouts", asProc(&FT_SetTimeouts)},
    {FT_ORDINAL_LIST_DEVICES, "FT_ListDevices", asProc(&FT_ListDevices)},
    {FT_ORDINAL_EE_READ, "FT_EE_Read", asProc(&FT_EE_Read)},
    {FT_ORDINAL_GET_DEVICE_INFO, "FT_GetDeviceInfo", asProc(&FT_GetDeviceInfo)},
    // Reached by name only; the ordinals are the DLL's own (see CMakeLists.txt).
    {kOrdinalSetLatencyTimer, "FT_SetLatencyTimer", asProc(&FT_SetLatencyTimer)},
    {kOrdinalGetLatencyTimer, "FT_GetLatencyTimer", asProc(&FT_GetLatencyTimer)},
    {kOrdinalSetChars, "FT_SetChars", asProc(&FT_SetChars)},
    {kOrdinalCreateDeviceInfoList, "FT_CreateDeviceInfoList", asProc(&FT_CreateDeviceInfoList)},
    {kOrdinalGetDeviceInfoDetail, "FT_GetDeviceInfoDetail", asProc(&FT_GetDeviceInfoDetail)},
};

bool missing(int ordinal) {
    for (int m : detail::state().missingOrdinals)
        if (m == ordinal) return true;
    return false;
}

}  // namespace

Proc procByOrdinal(int ordinal) {
    if (missing(ordinal)) return nullptr;
    for (const Entry &e : kEntries)
        if (e.ordinal == ordinal) return e.proc;
    return nullptr;
}

Proc lookupProc(int ordinal, const char *name) {
    if (name == nullptr) return procByOrdinal(ordinal);
    for (const Entry &e : kEntries)
        if (std::strcmp(e.name, name) == 0) return procByOrdinal(e.ordinal);
    return nullptr;
}

void setMissingOrdinals(const std::vector<int> &ordinals) { detail::state().missingOrdinals = ordinals; }

}  // namespace sim
