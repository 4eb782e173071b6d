#include "sim/ft232r/chip.h"

#include "sim/internal.h"

namespace sim {
namespace ft232r {

namespace {

using detail::Device;

constexpr uint8_t kModemStatus[2] = {0x01, 0x60};   // an idle FT232R: CTS-less, THRE and TEMT
constexpr size_t kPacketSize = 64;

// FTDI's vendor requests.
enum Request : uint8_t {
    kReset = 0x00, kModemCtrl = 0x01, kFlowCtrl = 0x02, kBaudRate = 0x03, kData = 0x04,
    kPollModemStatus = 0x05, kEventChar = 0x06, kErrorChar = 0x07, kSetLatency = 0x09,
    kGetLatency = 0x0A, kBitMode = 0x0B, kReadPins = 0x0C, kReadEeprom = 0x90,
};
constexpr uint16_t kPurgeToDevice = 1;   // "purge RX" as the chip names it: bytes for the line
constexpr uint16_t kPurgeToHost = 2;     // bytes from the line, on their way to the host

Device &model(int index) { return detail::state().devices[static_cast<size_t>(index)]; }

// The FT232R's baud divisor: 14 bits of whole and 3 bits of eighths of 3 MHz, the eighths
// coded out of order; 0 and 1 stand for 3 and 2 Mbaud.
uint32_t baudOf(uint16_t value, uint16_t index)
{
    static const int eighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};
    uint32_t encoded = value | (uint32_t{index} << 16);
    uint32_t whole = encoded & 0x3FFF;
    uint32_t code = (encoded >> 14) & 0x7;
    if (whole == 0 && code == 0)
        return 3000000;
    if (whole == 1 && code == 0)
        return 2000000;
    return static_cast<uint32_t>(24000000.0 / (8.0 * whole + eighths[code]) + 0.5);
}

bool eepromReadable(const Device &d)
{
    const Faults &f = d.config.faults;
    return !f.eepromReadFails && !(f.eepromFailFromOpen >= 0 && d.opens - 1 >= f.eepromFailFromOpen);
}

}  // namespace

bool Chip::plugged() const { return model(device_).plugged && model(device_).plugIns == plugIn_; }
bool Chip::openFails() const { return model(device_).config.faults.openFails; }

void Chip::open()
{
    detail::openDevice(model(device_), false);   // libusb reads only when the program does
}

void Chip::close()
{
    Device &d = model(device_);
    if (d.plugIns == plugIn_) {
        detail::closeDevice(d);
        return;
    }
    d.calls.push_back("close");   // an earlier plug-in's: the device as it is now is left alone
    writeOutputs();
}

double Chip::answerDelayMs(const Setup &s) const
{
    if (s.requestType != 0xC0 || s.request != kReadEeprom)
        return 0;
    return model(device_).config.faults.eepromDelayMs / (kEepromSize / 2.0);
}

bool Chip::control(const Setup &s, const uint8_t *, Bytes &in)
{
    in.clear();
    bool ok = false;
    if (s.requestType == 0x80)
        ok = standardIn(s, in);
    else if (s.requestType == 0x40)
        ok = vendorOut(s);
    else if (s.requestType == 0xC0)
        ok = vendorIn(s, in);
    if (in.size() > s.length)
        in.resize(s.length);
    return ok;
}

bool Chip::standardIn(const Setup &s, Bytes &in)
{
    const Eeprom &e = model(device_).config.eeprom;
    const Faults &f = model(device_).config.faults;
    if (s.request != 6)   // GET_DESCRIPTOR is all libusb asks of the device itself here
        return false;
    // The chip serves its strings from the EEPROM: a slot too short for a descriptor has none
    // to give (we stall, as for any string the device lacks).
    const uint8_t string = static_cast<uint8_t>(s.value & 0xFF);
    if ((s.value >> 8) == 3 && string >= kStringManufacturer && string <= kStringSerial &&
        f.stringLength[string - kStringManufacturer] >= 0 && f.stringLength[string - kStringManufacturer] < 2)
        return false;
    switch (s.value >> 8) {
    case 1: in = deviceDescriptor(e); return true;
    case 2: in = configurationDescriptor(e); return true;
    case 3:
        switch (s.value & 0xFF) {
        case 0: in = languageDescriptor(); return true;
        case kStringManufacturer: in = stringDescriptor(e.manufacturer); return true;
        case kStringProduct: in = stringDescriptor(e.description); return true;
        case kStringSerial: in = stringDescriptor(e.serialNumber); return true;
        }
        return false;
    }
    return false;
}

bool Chip::vendorOut(const Setup &s)
{
    Device &d = model(device_);
    const double now = nowMs();
    switch (s.request) {
    case kReset:
        if (s.value == kPurgeToHost) {
            d.bridge.purge(now);
            ++d.port.rxPurges;
        } else if (s.value == kPurgeToDevice) {
            ++d.port.txPurges;   // the bytes reach the meter as they are written
        }
        return true;
    case kModemCtrl:
        if ((s.value & 0x0100) != 0 && (s.value & 0x0001) == 0)
            d.port.dtrCleared = true;
        return true;
    case kFlowCtrl:
        d.port.flowControl = static_cast<uint16_t>(s.index & 0xFF00);
        return true;
    case kBaudRate:
        d.port.baudRate = baudOf(s.value, s.index);
        return true;
    case kData:
        d.port.wordLength = static_cast<uint8_t>(s.value & 0xFF);
        d.port.parity = static_cast<uint8_t>((s.value >> 8) & 0x7);
        d.port.stopBits = static_cast<uint8_t>((s.value >> 11) & 0x3);
        return true;
    case kEventChar:
        d.bridge.setEventChar(static_cast<uint8_t>(s.value), (s.value & 0x0100) != 0, now);
        d.port.eventChars.push_back((s.value & 0x0100) != 0 ? (s.value & 0xFF) : -1);
        return true;
    case kSetLatency:
        if ((s.value & 0xFF) == 0)
            return false;
        d.bridge.setLatency(static_cast<uint8_t>(s.value), now);
        d.port.latencySets.push_back(s.value & 0xFF);
        d.calls.push_back("latency " + std::to_string(s.value & 0xFF));
        return true;
    case kErrorChar:
    case kBitMode:
        return true;
    }
    return false;
}

bool Chip::vendorIn(const Setup &s, Bytes &in)
{
    Device &d = model(device_);
    switch (s.request) {
    case kPollModemStatus:
        in.assign(kModemStatus, kModemStatus + 2);
        return true;
    case kGetLatency:
        in.assign(1, d.bridge.latency());
        return true;
    case kReadPins:
        in.assign(1, 0);
        return true;
    case kReadEeprom: {
        if (!eepromReadable(d))
            return false;
        Bytes image = eepromImage(d.config.eeprom, d.config.faults);
        size_t at = (size_t{s.index} * 2) % kEepromSize;   // the chip repeats its 128 bytes
        in.assign(image.begin() + static_cast<long>(at), image.begin() + static_cast<long>(at) + 2);
        return true;
    }
    }
    return false;
}

void Chip::bulkOut(const uint8_t *data, size_t size)
{
    detail::deliver(model(device_), data, size, nowMs());
}

bool Chip::bulkIn(size_t capacity, double pendingSinceMs, Bytes &in)
{
    Device &d = model(device_);
    const double now = nowMs();
    in.clear();
    detail::Bridge::Packet packet;
    Bytes data;
    double since = pendingSinceMs;
    // A full packet does not end the transfer: the next one may join it while there is room.
    while (capacity - in.size() >= kPacketSize && d.bridge.fetch(since, now, packet, data)) {
        in.insert(in.end(), kModemStatus, kModemStatus + 2);
        in.insert(in.end(), data.begin(), data.end());
        data.clear();
        since = packet.atMs;
        if (packet.count < detail::Bridge::kPacketPayload)
            break;
    }
    detail::noteDeliveries(d);
    return !in.empty();
}

}  // namespace ft232r
}  // namespace sim
