#include "link/ft232r_eeprom.h"

namespace kplx::link {

namespace {

// Where the FT232R keeps what the identity check compares (FTDI's EEPROM layout for the R
// chip, as libftdi1 decodes it).
constexpr size_t kConfigAttributes = 0x08;   // bit 6: self-powered
constexpr size_t kInvert = 0x0B;             // bit 0 TXD, 1 RXD, 4 DTR
constexpr size_t kCbus4 = 0x16;              // low nibble
constexpr size_t kManufacturerSlot = 0x0E;   // each slot: 0x80 | offset, then the length
constexpr size_t kProductSlot = 0x10;
constexpr size_t kSerialSlot = 0x12;
constexpr size_t kChecksumAt = kFt232rEepromSize - 2;
constexpr uint8_t kStringDescriptor = 3;

void appendUtf8(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16LE as the kernel turns a USB string into its sysfs text: up to the first NUL, a
// surrogate without its partner as U+FFFD.
std::string fromUtf16(const uint8_t *units, size_t count)
{
    constexpr uint32_t kReplacement = 0xFFFD;
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        uint32_t u = static_cast<uint32_t>(units[2 * i] | units[2 * i + 1] << 8);
        if (u == 0)
            break;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
            uint32_t low = static_cast<uint32_t>(units[2 * i + 2] | units[2 * i + 3] << 8);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUtf8(out, u >= 0xD800 && u <= 0xDFFF ? kReplacement : u);
    }
    return out;
}

// The string a slot points at. Offset and length are checked against the image before a byte
// of the descriptor is read; the descriptor must say the same length and be a string's.
bool slotString(const uint8_t *image, size_t slot, const char *name, std::string &text, std::string &problem)
{
    text.clear();
    const size_t offset = image[slot] & 0x7F;
    const size_t length = image[slot + 1];
    if (length < 2)
        return true;   // no descriptor: an empty string
    if (offset + length > kChecksumAt || length % 2 != 0 || image[offset] != length ||
        image[offset + 1] != kStringDescriptor) {
        problem = std::string("its EEPROM's ") + name + " string is malformed";
        return false;
    }
    text = fromUtf16(image + offset + 2, (length - 2) / 2);
    return true;
}

}  // namespace

uint16_t ft232rChecksum(const uint8_t *image)
{
    unsigned sum = 0xAAAA;
    for (size_t i = 0; i < kChecksumAt; i += 2) {
        sum ^= static_cast<unsigned>(image[i] | image[i + 1] << 8);
        sum = ((sum << 1) | (sum >> 15)) & 0xFFFF;
    }
    return static_cast<uint16_t>(sum);
}

bool decodeFt232rEeprom(const uint8_t *image, size_t size, Ft232rEeprom &out, std::string &problem)
{
    out = Ft232rEeprom();
    if (image == nullptr || size != kFt232rEepromSize) {
        problem = "its EEPROM cannot be read whole";
        return false;
    }
    if (ft232rChecksum(image) != static_cast<uint16_t>(image[kChecksumAt] | image[kChecksumAt + 1] << 8)) {
        problem = "its EEPROM has a bad checksum";
        return false;
    }
    if (!slotString(image, kManufacturerSlot, "manufacturer", out.manufacturer, problem) ||
        !slotString(image, kProductSlot, "description", out.record.description, problem) ||
        !slotString(image, kSerialSlot, "serial number", out.serial, problem))
        return false;
    core::EepromFields &f = out.record.values;
    f.pnp = 0;   // the FT232R has no PnP bit: a meter's never sets one
    f.selfPowered = (image[kConfigAttributes] & 0x40) != 0 ? 1 : 0;
    f.invertTxd = (image[kInvert] & 0x01) != 0 ? 1 : 0;
    f.invertRxd = (image[kInvert] & 0x02) != 0 ? 1 : 0;
    f.invertDtr = (image[kInvert] & 0x10) != 0 ? 1 : 0;
    f.cbus4 = static_cast<uint8_t>(image[kCbus4] & 0x0F);
    return true;
}

}  // namespace kplx::link
