#include "sim/ft232r/descriptors.h"

#include <algorithm>

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

// The code points of a device string: UTF-8 where the bytes are, else each byte as the code
// point of its value (how a programmer that writes bytes into UTF-16 would store it).
std::vector<uint32_t> codePoints(const std::string &text)
{
    std::vector<uint32_t> out;
    const auto at = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    for (size_t i = 0; i < text.size();) {
        const uint8_t b = at(i);
        size_t n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 ? (b <= 0xEF ? 3 : 0) : b >= 0xC2 ? 2 : 0;
        uint32_t cp = n == 4 ? b & 0x07u : n == 3 ? b & 0x0Fu : b & 0x1Fu;
        bool ok = n > 0 && i + n <= text.size();
        for (size_t k = 1; ok && k < n; ++k) {
            ok = (at(i + k) & 0xC0) == 0x80;
            cp = cp << 6 | (at(i + k) & 0x3Fu);
        }
        ok = ok && !(n == 3 && cp < 0x800) && !(n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) &&
             !(cp >= 0xD800 && cp <= 0xDFFF);
        if (!ok) {
            out.push_back(b);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += n;
    }
    return out;
}

Bytes stringDescriptor(const std::string &text)
{
    // A USB string descriptor is UTF-16LE, at most 255 bytes with its 2-byte header.
    std::vector<uint16_t> units;
    for (uint32_t cp : codePoints(text)) {
        if (cp >= 0x10000) {
            units.push_back(static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<uint16_t>(cp));
        }
    }
    units.resize(std::min<size_t>(units.size(), 126));
    Bytes d{static_cast<uint8_t>(2 + 2 * units.size()), 3};
    for (uint16_t u : units) {
        d.push_back(static_cast<uint8_t>(u));
        d.push_back(static_cast<uint8_t>(u >> 8));
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
    Faults none;
    none.eepromBadChecksum = badChecksum;
    return eepromImage(e, none);
}

Bytes eepromImage(const Eeprom &e, const Faults &faults)
{
    const bool badChecksum = faults.eepromBadChecksum;
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
        if (faults.stringLength[i] >= 0 && faults.stringLength[i] < 2) {
            // A length byte too small for a descriptor's header: no descriptor stored.
            b[slots[i]] = static_cast<uint8_t>(0x80 | at);
            b[slots[i] + 1] = static_cast<uint8_t>(faults.stringLength[i]);
            continue;
        }
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
