// The FT232R's 128-byte EEPROM image, decoded without trusting a single length or offset in
// it: the checksum, the configuration bytes the identity check compares, and the three strings
// (USB string descriptors the slots at 0x0E, 0x10 and 0x12 point at).
#pragma once

#include "link/link.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kplx::link {

constexpr size_t kFt232rEepromSize = 128;

struct Ft232rEeprom {
    EepromRecord record;        // the identity fields and the description
    std::string manufacturer;
    std::string serial;
};

// The checksum in the last word: start 0xAAAA; for each word before it, xor, then rotate left
// by one. `image` holds kFt232rEepromSize bytes.
uint16_t ft232rChecksum(const uint8_t *image);

// False, with `problem` saying why in the user's terms, when the image is not a whole FT232R
// EEPROM with a right checksum and well-formed strings. A string slot whose length is under a
// descriptor's two header bytes holds an empty string.
bool decodeFt232rEeprom(const uint8_t *image, size_t size, Ft232rEeprom &out, std::string &problem);

}  // namespace kplx::link
