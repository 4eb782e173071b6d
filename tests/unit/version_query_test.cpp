#include "fixture.h"

#include "protocol/packet.h"
#include "protocol/version_query.h"

#include <algorithm>

namespace {

std::vector<uint8_t> versionAnswer(const std::string &text)
{
    unsigned char frame[FRAME_BUFFER_SIZE];
    int size = buildPacket(text.data(), static_cast<int>(text.size()), frame);
    std::vector<uint8_t> reply{ACK};
    reply.insert(reply.end(), frame, frame + size);
    return reply;
}

class Versions : public HostTest {
protected:
    HWND list = nullptr;

    void SetUp() override
    {
        HostTest::SetUp();
        installDriver();
        list = testhost::makeListBox();
    }

    int addMeter(const std::string &version, const sim::Faults &faults = sim::Faults())
    {
        sim::DeviceConfig config;
        config.version = version;
        config.faults = faults;
        return sim::addDevice(config);
    }

    int addCable()
    {
        sim::DeviceConfig cable;
        cable.role = sim::Role::cable;
        cable.eeprom.description = "FT232R USB UART";
        cable.eeprom.invertDtr = 0;
        cable.eeprom.cbus4 = 1;
        return sim::addDevice(cable);
    }

    // A meter that answers "VERSION" with exactly these bytes.
    int addRawMeter(const std::vector<uint8_t> &reply, std::vector<int> pieces = {})
    {
        sim::Faults f;
        f.rawReplyAtFrame = 0;
        f.rawReply = reply;
        f.replyPieces = std::move(pieces);
        return addMeter("unused", f);
    }

    const std::vector<std::string> &items() { return testhost::listBoxItems(list); }
};

TEST_F(Versions, NoDevicesGivesZeroAndAnEmptyList)
{
    EXPECT_EQ(0, queryMeters(list));
    EXPECT_TRUE(items().empty());
}

TEST_F(Versions, TwoMetersAndACable)
{
    addMeter("KPLX Meter V2.10");
    addCable();
    addMeter("KPLX Meter V1.07");
    EXPECT_EQ(2, queryMeters(list));
    std::vector<std::string> got = items();
    std::sort(got.begin(), got.end());
    EXPECT_EQ((std::vector<std::string>{"KPLX Meter V1.07", "KPLX Meter V2.10"}), got);
    EXPECT_TRUE(sim::frames(1).empty());   // nothing is ever sent to a cable
}

TEST_F(Versions, NullListStillCounts)
{
    addMeter("KPLX Meter V2.10");
    EXPECT_EQ(1, queryMeters(nullptr));
}

TEST_F(Versions, AskedWithTheVersionFrame)
{
    addMeter("V");
    queryMeters(list);
    ASSERT_EQ(1u, sim::frames(0).size());
    EXPECT_EQ((std::vector<uint8_t>{0x02, 0x07, 'V', 'E', 'R', 'S', 'I', 'O', 'N', 0xD2}), sim::frames(0)[0].bytes);
}

TEST_F(Versions, NakIsSkipped)
{
    sim::Faults f;
    f.nakAtFrame = 0;
    addMeter("KPLX Meter V2.10", f);
    addMeter("KPLX Meter V3.00");
    EXPECT_EQ(1, queryMeters(list));
    EXPECT_EQ(std::vector<std::string>{"KPLX Meter V3.00"}, items());
}

TEST_F(Versions, SilentMeterIsSkippedAfterFiveShortReads)
{
    sim::Faults f;
    f.silentFromFrame = 0;
    addMeter("KPLX", f);
    double before = sim::nowMs();
    EXPECT_EQ(0, queryMeters(list));
    EXPECT_GE(sim::nowMs() - before, 5 * 200.0);
    EXPECT_LT(sim::nowMs() - before, 5 * 200.0 + 100);
}

TEST_F(Versions, AnswerInPiecesOfThreeAndTenIsJoined)
{
    std::vector<uint8_t> answer = versionAnswer("KPLX V2.1");   // 1 + 12 bytes
    ASSERT_EQ(13u, answer.size());
    addRawMeter(answer, {3, 10});
    EXPECT_EQ(1, queryMeters(list));
    EXPECT_EQ(std::vector<std::string>{"KPLX V2.1"}, items());
}

TEST_F(Versions, FrameStillArrivingAfterFiveBytesIsWaitedFor)
{
    // ACK alone, then ten bytes: five bytes are in, but the frame LEN announces is not.
    std::vector<uint8_t> answer = versionAnswer("KPLX Meter V2.10");
    addRawMeter(answer, {1, 10});
    EXPECT_EQ(1, queryMeters(list));
    EXPECT_EQ(std::vector<std::string>{"KPLX Meter V2.10"}, items());
}

TEST_F(Versions, FrameInMoreThanFivePiecesIsSkippedWithinFiveReads)
{
    std::vector<uint8_t> answer = versionAnswer("KPLX Meter V2.10");
    addRawMeter(answer, {1, 1, 1, 1, 1, 1});
    double before = sim::nowMs();
    EXPECT_EQ(0, queryMeters(list));
    EXPECT_TRUE(items().empty());
    EXPECT_LT(sim::nowMs() - before, 5 * 200.0 + 100);
}

TEST_F(Versions, BadChecksumIsSkipped)
{
    std::vector<uint8_t> answer = versionAnswer("KPLX Meter V2.10");
    answer.back() ^= 1;
    addRawMeter(answer);
    EXPECT_EQ(0, queryMeters(list));
    EXPECT_TRUE(items().empty());
}

TEST_F(Versions, EmptyVersionFrameInOneReadIsSkipped)
{
    addRawMeter({0x06, 0x02, 0x00, 0xFF});
    EXPECT_EQ(0, queryMeters(list));
}

TEST_F(Versions, AnswerWithoutAckIsSkipped)
{
    std::vector<uint8_t> answer = versionAnswer("KPLX Meter V2.10");
    answer[0] = 0x00;
    addRawMeter(answer);
    EXPECT_EQ(0, queryMeters(list));
}

TEST_F(Versions, UnpluggedDeviceIsSkipped)
{
    sim::Faults f;
    f.unplugAtFrame = 0;
    addMeter("KPLX Meter V3.00");
    addMeter("KPLX Meter V2.10", f);
    EXPECT_EQ(1, queryMeters(list));
    EXPECT_EQ(std::vector<std::string>{"KPLX Meter V3.00"}, items());
}

TEST_F(Versions, DeviceThatCannotBeOpenedIsSkipped)
{
    sim::Faults f;
    f.openFails = true;
    addMeter("KPLX Meter V2.10", f);
    addMeter("KPLX Meter V3.00");
    EXPECT_EQ(1, queryMeters(list));
}

TEST_F(Versions, FailedEepromReadDoesNotRejectANewPort)
{
    sim::Faults f;
    f.eepromReadFails = true;
    addMeter("KPLX Meter V2.10", f);
    EXPECT_EQ(1, queryMeters(list));
}

TEST_F(Versions, TextOf63CharactersIsAcceptedAnd64Skipped)
{
    addMeter(std::string(63, 'a'));
    addMeter(std::string(64, 'b'));
    EXPECT_EQ(1, queryMeters(list));
    EXPECT_EQ(std::vector<std::string>{std::string(63, 'a')}, items());
}

TEST_F(Versions, FrameReachingBeyondTheReplyIsSkipped)
{
    // LEN 0x7F puts the checksum at reply[130], past the 128-byte reply buffer.
    std::vector<uint8_t> answer{0x06, 0x02, 0x7F};
    answer.resize(140, 'x');
    addRawMeter(answer);
    EXPECT_EQ(0, queryMeters(list));
}

TEST_F(Versions, PortsAreClosedAfterTheQuery)
{
    addMeter("KPLX Meter V2.10");
    addCable();
    queryMeters(list);
    EXPECT_EQ(1, queryMeters(list));   // a device left open would fail to reopen
}

}  // namespace
