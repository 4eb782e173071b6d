// The Linux link's FT232R EEPROM decode and the identity verdict on any 128-byte image. The
// decoder must never read outside the image (the sanitizers watch), must refuse exactly the
// images whose checksum is wrong, and what it accepts must make sense: strings that are
// UTF-8 and fit their slots, one-bit fields, and a verdict that agrees with the fields.
//
// Input: an options byte (bit 0: make the checksum right, so that half the inputs reach the
// strings), then the image (cut or padded with zeros to 128 bytes).
#include "fuzz_support.h"

#include "core/identity.h"
#include "kplx/device_text.h"
#include "link/ft232r_eeprom.h"

#include <algorithm>

namespace {

using kplx::link::kFt232rEepromSize;

// Well-formed UTF-8 and at most `units` UTF-16 code units' worth.
bool fitsSlot(const std::string &s, size_t units)
{
    size_t count = 0;
    for (size_t i = 0; i < s.size();) {
        const uint8_t b = static_cast<uint8_t>(s[i]);
        size_t n = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<uint8_t>(s[i + k]) & 0xC0) != 0x80)
                return false;
        if (b == 0)
            return false;   // a NUL ends the string
        count += n == 4 ? 2 : 1;
        i += n;
    }
    return count <= units;
}

size_t slotUnits(const uint8_t *image, size_t slot)
{
    const size_t length = image[slot + 1];
    return length < 2 ? 0 : (length - 2) / 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool reseal = (data[0] & 1) != 0;
    std::vector<uint8_t> image(data + 1, data + std::min(size, kFt232rEepromSize + 1));
    image.resize(kFt232rEepromSize, 0);
    if (reseal) {
        const uint16_t sum = kplx::link::ft232rChecksum(image.data());
        image[126] = static_cast<uint8_t>(sum);
        image[127] = static_cast<uint8_t>(sum >> 8);
    }
    const bool checksumOk =
        kplx::link::ft232rChecksum(image.data()) == static_cast<uint16_t>(image[126] | image[127] << 8);

    // Exactly the image's bytes are readable: a copy of its own size, nothing after it.
    std::vector<uint8_t> exact(image);
    kplx::link::Ft232rEeprom out;
    std::string problem;
    const bool ok = kplx::link::decodeFt232rEeprom(exact.data(), exact.size(), out, problem);

    FUZZ_CHECK(ok || !problem.empty(), hexBytes(image, 128));
    if (!checksumOk) {
        FUZZ_CHECK(!ok && problem == "its EEPROM has a bad checksum", problem);
        return 0;
    }
    if (!ok)
        return 0;
    FUZZ_CHECK(fitsSlot(out.manufacturer, slotUnits(image.data(), 0x0E)), kplx::shownText(out.manufacturer));
    FUZZ_CHECK(fitsSlot(out.record.description, slotUnits(image.data(), 0x10)), kplx::shownText(out.record.description));
    FUZZ_CHECK(fitsSlot(out.serial, slotUnits(image.data(), 0x12)), kplx::shownText(out.serial));

    const kplx::core::EepromFields f = out.record.fields();
    FUZZ_CHECK(f.pnp == 0 && f.selfPowered <= 1 && f.invertTxd <= 1 && f.invertRxd <= 1 && f.invertDtr <= 1, "");
    FUZZ_CHECK(f.cbus4 == (image[0x16] & 0x0F), "");
    const unsigned deviations = kplx::core::identityDeviations(f);
    FUZZ_CHECK(((deviations & kplx::core::kDescription) != 0) == (out.record.description != kplx::core::kMeterDescription),
               kplx::shownText(out.record.description));
    FUZZ_CHECK(((deviations & kplx::core::kDtrNotInverted) != 0) == ((image[0x0B] & 0x10) == 0), "");

    // What kplx would print of the strings maps back to them exactly.
    for (const std::string *s : {&out.manufacturer, &out.record.description, &out.serial})
        FUZZ_CHECK(kplx::rawText(kplx::shownText(*s)) == *s, kplx::shownText(*s));
    return 0;
}
