// The FT232R EEPROM decoder of the Linux link: images the emulated chip makes decode to the
// fields they were made from, and every length or offset that points outside the image, or
// at something that is not a string descriptor, is refused instead of read.
#include "link/ft232r_eeprom.h"
#include "sim/ft232r/descriptors.h"

#include "core/identity.h"

#include <gtest/gtest.h>

namespace {

using kplx::link::Ft232rEeprom;
using sim::ft232r::Bytes;

constexpr size_t kProductSlot = 0x10;

bool decode(const Bytes &image, Ft232rEeprom &out, std::string &problem)
{
    return kplx::link::decodeFt232rEeprom(image.data(), image.size(), out, problem);
}

// An image changed by hand, its checksum made right again.
Bytes resealed(Bytes image)
{
    uint16_t sum = sim::ft232r::eepromChecksum(image);
    image[126] = static_cast<uint8_t>(sum);
    image[127] = static_cast<uint8_t>(sum >> 8);
    return image;
}

TEST(Ft232rEeprom, MetersImageDecodesToAMeter)
{
    sim::Eeprom meter;
    Ft232rEeprom out;
    std::string problem;
    ASSERT_TRUE(decode(sim::ft232r::eepromImage(meter, false), out, problem)) << problem;
    EXPECT_EQ("Quorvel KPLX", out.record.description);
    EXPECT_EQ("KP000001", out.serial);
    EXPECT_EQ("FTDI", out.manufacturer);
    EXPECT_EQ(0u, kplx::core::identityDeviations(out.record.fields()));
}

TEST(Ft232rEeprom, EachIdentityBitIsReadFromItsOwnPlace)
{
    sim::Eeprom e;
    e.selfPowered = 1;
    e.invertTxd = 1;
    e.invertRxd = 1;
    e.invertDtr = 0;
    e.cbus4 = 1;
    Bytes image = sim::ft232r::eepromImage(e, false);
    image[0x16] |= 0xA0;   // CBUS5's nibble must not leak into CBUS4
    Ft232rEeprom out;
    std::string problem;
    ASSERT_TRUE(decode(resealed(image), out, problem)) << problem;
    const kplx::core::EepromFields f = out.record.fields();
    EXPECT_EQ(1, f.selfPowered);
    EXPECT_EQ(1, f.invertTxd);
    EXPECT_EQ(1, f.invertRxd);
    EXPECT_EQ(0, f.invertDtr);
    EXPECT_EQ(1, f.cbus4);
    EXPECT_EQ(0, f.pnp);
}

TEST(Ft232rEeprom, LengthByteOfZeroOrOneIsAnEmptyString)
{
    for (int length : {0, 1}) {
        sim::Faults faults;
        faults.stringLength[sim::kDescriptionString] = length;
        sim::Eeprom e;
        e.description.clear();
        Ft232rEeprom out;
        std::string problem;
        ASSERT_TRUE(decode(sim::ft232r::eepromImage(e, faults), out, problem)) << length << problem;
        EXPECT_EQ("", out.record.description);
        EXPECT_EQ("KP000001", out.serial);
    }
}

struct Spoiled {
    const char *what;
    size_t at;
    uint8_t value;
    const char *problem;
};

TEST(Ft232rEeprom, SlotPointingOutsideOrAtSomethingElseIsRefused)
{
    const Bytes good = sim::ft232r::eepromImage(sim::Eeprom(), false);
    const size_t offset = good[kProductSlot] & 0x7F;
    const Spoiled cases[] = {
        {"length past the checksum word", kProductSlot + 1, 0x7E, "description string is malformed"},
        {"offset near the end", kProductSlot, 0x80 | 0x7C, "description string is malformed"},
        {"odd length", kProductSlot + 1, static_cast<uint8_t>(good[kProductSlot + 1] - 1), "description string is malformed"},
        {"descriptor says another length", offset, static_cast<uint8_t>(good[offset] + 2), "description string is malformed"},
        {"not a string descriptor", offset + 1, 0x01, "description string is malformed"},
    };
    for (const Spoiled &c : cases) {
        Bytes image = good;
        image[c.at] = c.value;
        Ft232rEeprom out;
        std::string problem;
        EXPECT_FALSE(decode(resealed(image), out, problem)) << c.what;
        EXPECT_NE(std::string::npos, problem.find(c.problem)) << c.what << ": " << problem;
    }
}

TEST(Ft232rEeprom, WrongChecksumOrSizeIsRefused)
{
    Ft232rEeprom out;
    std::string problem;
    EXPECT_FALSE(decode(sim::ft232r::eepromImage(sim::Eeprom(), true), out, problem));
    EXPECT_EQ("its EEPROM has a bad checksum", problem);
    Bytes shortImage = sim::ft232r::eepromImage(sim::Eeprom(), false);
    shortImage.resize(126);
    EXPECT_FALSE(decode(shortImage, out, problem));
    EXPECT_FALSE(kplx::link::decodeFt232rEeprom(nullptr, 128, out, problem));
}

TEST(Ft232rEeprom, StringsBecomeUtf8AsTheKernelShowsThemAndEndAtANul)
{
    sim::Eeprom e;
    e.description = "Qu\xC3\xA9 \xFF";   // UTF-8 e-acute, and a byte stored as U+00FF
    Bytes image = sim::ft232r::eepromImage(e, false);
    Ft232rEeprom out;
    std::string problem;
    ASSERT_TRUE(decode(image, out, problem)) << problem;
    EXPECT_EQ("Qu\xC3\xA9 \xC3\xBF", out.record.description);

    // A NUL code unit ends the string, as it does for the kernel and the D2XX library.
    const size_t offset = image[kProductSlot] & 0x7F;
    image[offset + 2 + 2 * 2] = 0;
    ASSERT_TRUE(decode(resealed(image), out, problem)) << problem;
    EXPECT_EQ("Qu", out.record.description);
}

}  // namespace
