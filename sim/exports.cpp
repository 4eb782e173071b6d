// The thirteen D2XX entry points. In the DLL they are the exports (named and numbered by the
// .def file); natively they are reached only through procByOrdinal.
#include "sim/eeprom.h"
#include "sim/internal.h"
#include "sim/lock.h"
#include "usb/d2xx.h"

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

// The handle's device, or why there is none usable.
FT_STATUS usable(FT_HANDLE handle, Device *&device) {
    sim::detail::ensureLoaded();
    device = sim::detail::byHandle(handle);
    if (device == nullptr) return FT_INVALID_HANDLE;
    return device->plugged ? FT_OK : FT_IO_ERROR;
}

FT_STATUS readBytes(Device &d, uint8_t *buffer, DWORD count, DWORD &got, sim::detail::Lock &lock) {
    got = 0;
    if (count == 0) return FT_OK;
    double timeout = d.port.readTimeoutMs != 0 ? d.port.readTimeoutMs : sim::detail::kEndlessReadMs;
    double deadline = sim::nowMs() + timeout;
    for (;;) {
        bool pieceEnded = false;
        got += static_cast<DWORD>(sim::detail::takeReadable(d, buffer + got, count - got, sim::nowMs(), true, pieceEnded));
        if (got == count || pieceEnded) return FT_OK;
        double next = d.bridge.host().empty() ? d.bridge.nextSendMs() : d.bridge.host().front().atMs;
        if (next > deadline) {
            sim::detail::waitUntil(deadline, &lock);
            return FT_OK;
        }
        sim::detail::waitUntil(next, &lock);
    }
}

const std::string *listString(const Device &d, DWORD flags) {
    if ((flags & kBySerial) != 0) return &d.config.eeprom.serialNumber;
    return &d.config.eeprom.description;
}

}  // namespace

SIM_ENTRY FT_Open(int deviceNumber, FT_HANDLE *handle) {
    sim::detail::Lock lock;
    sim::detail::ensureLoaded();
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
    return readBytes(*d, static_cast<uint8_t *>(buffer), bytesToRead, *bytesReturned, lock);
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
    sim::detail::ensureLoaded();
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
