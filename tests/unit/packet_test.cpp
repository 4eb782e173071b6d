#include "fixture.h"

#include "protocol/packet.h"
#include "usb/com_access.h"

#include <cstring>

namespace {

std::vector<unsigned char> frameOf(const std::string &payload)
{
    unsigned char frame[FRAME_BUFFER_SIZE];
    int size = buildPacket(payload.data(), static_cast<int>(payload.size()), frame);
    return std::vector<unsigned char>(frame, frame + size);
}

// --- Building -------------------------------------------------------------------------------

TEST(Framing, KnownFramesByteForByte)
{
    EXPECT_EQ((std::vector<unsigned char>{0x02, 0x03, 0x45, 0x4E, 0x44, 0x25}), frameOf("END"));
    EXPECT_EQ((std::vector<unsigned char>{0x02, 0x08, 0x44, 0x41, 0x54, 0x41, 0x42, 0x41, 0x53, 0x45, 0xC2}),
              frameOf("DATABASE"));
    EXPECT_EQ((std::vector<unsigned char>{0x02, 0x07, 0x56, 0x45, 0x52, 0x53, 0x49, 0x4F, 0x4E, 0xD2}),
              frameOf("VERSION"));
    EXPECT_EQ((std::vector<unsigned char>{0x02, 0x07, 0x53, 0x55, 0x43, 0x43, 0x45, 0x53, 0x53, 0xDF}),
              frameOf("SUCCESS"));
}

TEST(Framing, FullBlockHasLen80AndSumOfLenAndPayload)
{
    unsigned char block[128];
    unsigned sum = 0x80;
    for (int i = 0; i < 128; ++i) {
        block[i] = static_cast<unsigned char>(i * 7 + 3);
        sum += block[i];
    }
    unsigned char frame[FRAME_BUFFER_SIZE];
    ASSERT_EQ(131, buildPacket(block, 128, frame));
    EXPECT_EQ(0x02, frame[0]);
    EXPECT_EQ(0x80, frame[1]);
    EXPECT_EQ(0, memcmp(block, frame + 2, 128));
    EXPECT_EQ(static_cast<unsigned char>(~sum), frame[130]);
}

// --- Checking -------------------------------------------------------------------------------

TEST(Parsing, LenZeroIsAnEmptyString)
{
    const unsigned char frame[] = {0x02, 0x00, 0xFF};
    char out[8] = "stale";
    EXPECT_EQ(0, parsePacket(frame, sizeof frame, out, sizeof out));
    EXPECT_STREQ("", out);
}

TEST(Parsing, ChecksumOffByOneIsInvalidAndOutputEmpty)
{
    std::vector<unsigned char> f = frameOf("SUCCESS");
    char out[64] = "stale";
    f.back() = static_cast<unsigned char>(f.back() + 1);
    EXPECT_EQ(-1, parsePacket(f.data(), f.size(), out, sizeof out));
    EXPECT_STREQ("", out);
    f.back() = static_cast<unsigned char>(f.back() - 2);
    EXPECT_EQ(-1, parsePacket(f.data(), f.size(), out, sizeof out));
}

TEST(Parsing, RoundTripOfAllByteValues)
{
    std::string payload;
    for (int i = 1; i <= 63; ++i)
        payload += static_cast<char>(i * 4 + 1);
    std::vector<unsigned char> f = frameOf(payload);
    char out[64];
    EXPECT_EQ(63, parsePacket(f.data(), f.size(), out, sizeof out));
    EXPECT_EQ(payload, std::string(out));
}

TEST(Parsing, ZeroByteInsidePayloadEndsTheString)
{
    std::vector<unsigned char> f = frameOf(std::string("AB\0CD", 5));
    char out[16];
    memset(out, 'x', sizeof out);
    EXPECT_EQ(5, parsePacket(f.data(), f.size(), out, sizeof out));
    EXPECT_STREQ("AB", out);
    for (int i = 2; i <= 5; ++i)
        EXPECT_EQ(0, out[i]) << i;
}

TEST(Parsing, NoStxIsInvalid)
{
    std::vector<unsigned char> f = frameOf("END");
    f[0] = 0x06;
    char out[8];
    EXPECT_EQ(-1, parsePacket(f.data(), f.size(), out, sizeof out));
}

TEST(Parsing, ChecksumBeyondTheBytesThatArrivedIsInvalid)
{
    std::vector<unsigned char> f = frameOf("SUCCESS");
    char out[64];
    EXPECT_EQ(-1, parsePacket(f.data(), f.size() - 1, out, sizeof out));
    EXPECT_EQ(-1, parsePacket(f.data(), 2, out, sizeof out));
    EXPECT_EQ(-1, parsePacket(f.data(), 0, out, sizeof out));
    EXPECT_EQ(7, parsePacket(f.data(), f.size(), out, sizeof out));
}

TEST(Parsing, PayloadThatDoesNotFitTheOutputIsInvalid)
{
    std::vector<unsigned char> f = frameOf(std::string(64, 'v'));
    char out[64];
    EXPECT_EQ(-1, parsePacket(f.data(), f.size(), out, sizeof out));
    EXPECT_STREQ("", out);
    f = frameOf(std::string(63, 'v'));
    EXPECT_EQ(63, parsePacket(f.data(), f.size(), out, sizeof out));
}

// --- Sending --------------------------------------------------------------------------------

class Sending : public HostTest {};

TEST_F(Sending, OneWriteOfTheWholeFrame)
{
    installDriver();
    sim::addDevice(sim::DeviceConfig());
    ComAccess port;
    ASSERT_EQ(0u, port.openAndConfigure(0, 115200, 8, 0, 0));
    EXPECT_EQ(8, sendPacket(port, "DATABASE", 8));
    EXPECT_EQ(11u, port.bytesWritten);
    port.closePort();
    ASSERT_EQ(1u, sim::frames(0).size());
    EXPECT_EQ(frameOf("DATABASE"), sim::frames(0)[0].bytes);
    EXPECT_TRUE(sim::frames(0)[0].valid);
}

// LEN is one byte, so buildPacket can write a 258-byte frame; sendPacket's buffer must hold it
// (AddressSanitizer catches a write past its end).
TEST_F(Sending, LongestPayloadFitsTheFrameBuffer)
{
    installDriver();
    sim::addDevice(sim::DeviceConfig());
    ComAccess port;
    ASSERT_EQ(0u, port.openAndConfigure(0, 115200, 8, 0, 0));
    const std::string payload(255, 'x');
    EXPECT_EQ(255, sendPacket(port, payload.data(), 255));
    EXPECT_EQ(258u, port.bytesWritten);
    port.closePort();
    ASSERT_EQ(1u, sim::frames(0).size());
    EXPECT_EQ(frameOf(payload), sim::frames(0)[0].bytes);
}

TEST_F(Sending, ClosedPortSendsNothing)
{
    installDriver();
    ComAccess port;
    EXPECT_EQ(3, sendPacket(port, "END", 3));
    EXPECT_EQ(0u, port.bytesWritten);
}

}  // namespace
