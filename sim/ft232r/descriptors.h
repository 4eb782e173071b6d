// What an FT232R shows on the USB: its device and configuration descriptors, its string
// descriptors, and the 128-byte EEPROM image its vendor requests read, all made from the
// simulated device's EEPROM record.
#pragma once

#include "sim/sim.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {
namespace ft232r {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kBcdDevice = 0x0600;   // an FT232R, by which libftdi tells the chip
constexpr uint8_t kStringManufacturer = 1, kStringProduct = 2, kStringSerial = 3;
constexpr size_t kEepromSize = 128;

Bytes deviceDescriptor(const Eeprom &e);
Bytes configurationDescriptor(const Eeprom &e);   // one interface, bulk IN 0x81 and OUT 0x02
Bytes stringDescriptor(const std::string &text);   // UTF-8 where the bytes are, else one code point a byte
Bytes languageDescriptor();                       // string 0: English (US)

// The EEPROM as the chip stores it: the configuration words, the invert and CBUS bytes, the
// three strings as string descriptors, and the checksum in the last word (start 0xAAAA; for
// each word before it, xor, then rotate left by one). The FT232R has no PnP bit: `pnp` is not
// stored. With `badChecksum` the last word is off by one.
Bytes eepromImage(const Eeprom &e, bool badChecksum);
// The same with the EEPROM faults: a bad checksum, string slots whose length byte is 0 or 1.
Bytes eepromImage(const Eeprom &e, const Faults &faults);
uint16_t eepromChecksum(const Bytes &image);

}  // namespace ft232r
}  // namespace sim
