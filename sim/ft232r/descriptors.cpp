#include "sim/ft232r/descriptors.h"

namespace sim {
namespace ft232r {

namespace {

void put16(Bytes &b, size_t at, uint16_t v)
{
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

uint8_t configAttributes(const Eeprom &e)
{
    return static_cast<uint8_t>(0x80 | (e.selfPowered ? 0x40 : 0) | (e.remoteWakeup ? 0x20 : 0));
}

}  // namespace

Bytes deviceDescriptor(const Eeprom &e)
{
    Bytes d{18, 1, 0x00, 0x02, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, kStringManufacturer, kStringProduct, kStringSerial, 1};
    put16(d, 8, e.vendorId);
    put16(d, 10, e.productId);
    put16(d, 12, kBcdDevice);
    return d;
}

Bytes configurationDescriptor(const Eeprom &e)
{
    return Bytes{9, 2, 32, 0, 1, 1, 0, configAttributes(e), static_cast<uint8_t>(e.maxPower / 2),
                 9, 4, 0, 0, 2, 0xFF, 0xFF, 0xFF, kStringProduct,
                 7, 5, 0x81, 2, 64, 0, 0,
                 7, 5, 0x02, 2, 64, 0, 0};
}

Bytes stringDescriptor(const std::string &ascii)
{
    std::string s = ascii.substr(0, 126);
    Bytes d{static_cast<uint8_t>(2 + 2 * s.size()), 3};
    for (char c : s) {
        d.push_back(static_cast<uint8_t>(c));
        d.push_back(0);
    }
    return d;
}

Bytes languageDescriptor() { return Bytes{4, 3, 0x09, 0x04}; }

uint16_t eepromChecksum(const Bytes &image)
{
    uint16_t sum = 0xAAAA;
    for (size_t i = 0; i + 2 < kEepromSize; i += 2) {
        sum ^= static_cast<uint16_t>(image[i] | image[i + 1] << 8);
        sum = static_cast<uint16_t>((sum << 1) | (sum >> 15));
    }
    return sum;
}

Bytes eepromImage(const Eeprom &e, bool badChecksum)
{
    Bytes b(kEepromSize, 0);
    b[0x01] = 0x40;   // 64-byte endpoints, as FTDI programs it
    put16(b, 0x02, e.vendorId);
    put16(b, 0x04, e.productId);
    put16(b, 0x06, kBcdDevice);
    b[0x08] = configAttributes(e);
    b[0x09] = static_cast<uint8_t>(e.maxPower / 2);
    b[0x0A] = 0x08;   // use the serial number
    b[0x0B] = static_cast<uint8_t>((e.invertTxd ? 0x01 : 0) | (e.invertRxd ? 0x02 : 0) | (e.invertDtr ? 0x10 : 0));
    put16(b, 0x0C, 0x0200);
    // Strings from 0x18 on; each slot holds 0x80 | offset and the descriptor's length. What
    // does not fit before the checksum word is cut, as a programmer would have to.
    size_t at = 0x18;
    const std::string *texts[] = {&e.manufacturer, &e.description, &e.serialNumber};
    const size_t slots[] = {0x0E, 0x10, 0x12};
    for (int i = 0; i < 3; ++i) {
        Bytes d = stringDescriptor(*texts[i]);
        size_t room = kEepromSize - 2 - at;
        if (d.size() > room) {
            d.resize(room & ~size_t{1});
            d[0] = static_cast<uint8_t>(d.size());
        }
        std::copy(d.begin(), d.end(), b.begin() + static_cast<long>(at));
        b[slots[i]] = static_cast<uint8_t>(0x80 | at);
        b[slots[i] + 1] = static_cast<uint8_t>(d.size());
        at += d.size();
    }
    // CBUS0..3 as the factory leaves them (TXLED, RXLED, TXDEN, PWREN), CBUS4 from the record.
    b[0x14] = 0x3 | 0x2 << 4;
    b[0x15] = 0x0 | 0x1 << 4;
    b[0x16] = static_cast<uint8_t>(e.cbus4 & 0x0F);
    uint16_t sum = eepromChecksum(b);
    put16(b, kEepromSize - 2, static_cast<uint16_t>(badChecksum ? sum + 1 : sum));
    return b;
}

}  // namespace ft232r
}  // namespace sim
