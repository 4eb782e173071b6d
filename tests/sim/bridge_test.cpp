// The bridge's rules for sending received bytes to the host, each pinned to what FTDI's
// application note AN232B-04 says the chip does ("Small Amounts of Data and End of Buffer
// Conditions", "Event Characters"; summarised in the team's ft232r-timing notes).
#include "sim/bridge.h"

#include <gtest/gtest.h>

#include <vector>

using sim::detail::Bridge;

namespace {

constexpr double kByteMs = 10000.0 / 115200;   // one byte at 115200 baud, 8N1
constexpr uint8_t kAck = 0x06;

// A bridge as the D2XX driver sees it: a read always pending.
Bridge d2xx(uint8_t latencyMs, double openedMs = 0)
{
    Bridge b;
    b.reset(latencyMs, true, true, openedMs);
    return b;
}

// As libftdi sees it: the chip sends only into a read the program has made.
Bridge libftdi(uint8_t latencyMs, double openedMs = 0)
{
    Bridge b;
    b.reset(latencyMs, true, false, openedMs);
    return b;
}

std::vector<double> hostTimes(Bridge &b)
{
    std::vector<double> times;
    for (const Bridge::Byte &byte : b.host())
        times.push_back(byte.atMs);
    return times;
}

TEST(BridgeRules, LoneByteLeavesAtTheFirstExpiryAfterItArrivesNotAPeriodLater)
{
    // The timer counts from the last packet sent (here: the open at 0), not from the byte.
    Bridge b = d2xx(16);
    b.arrive(kAck, 12.46, false);
    EXPECT_DOUBLE_EQ(16.0, b.nextSendMs());
    b.advance(15.99);
    EXPECT_TRUE(b.host().empty());
    b.advance(16.0);
    EXPECT_EQ(std::vector<double>{16.0}, hostTimes(b));

    // Stop and wait: the next ACK, 12.46 ms after that packet, takes the next expiry: 32.
    b.arrive(kAck, 16.0 + 12.46, false);
    EXPECT_DOUBLE_EQ(32.0, b.nextSendMs());
}

TEST(BridgeRules, EventCharacterAloneInTheBufferWaitsForTheTimer)
{
    // "The event character will not work if it is the first character in the buffer."
    Bridge b = d2xx(16);
    b.setEventChar(kAck, true, 0);
    b.arrive(kAck, 12.46, false);
    EXPECT_DOUBLE_EQ(16.0, b.nextSendMs());
}

TEST(BridgeRules, EventCharacterBehindAnotherByteSendsThePacketAtOnce)
{
    Bridge b = d2xx(16);
    b.setEventChar(kAck, true, 0);
    b.arrive(0x41, 3.0, false);
    b.arrive(kAck, 3.0 + kByteMs, false);
    b.arrive(0x42, 3.0 + 2 * kByteMs, false);   // behind the packet: waits for the timer
    b.advance(3.5);
    EXPECT_EQ((std::vector<double>{3.0 + kByteMs, 3.0 + kByteMs}), hostTimes(b));
    // That packet restarted the timer.
    EXPECT_DOUBLE_EQ(3.0 + kByteMs + 16, b.nextSendMs());
}

TEST(BridgeRules, SixtyTwoWaitingBytesLeaveAsAFullPacket)
{
    Bridge b = d2xx(16);
    for (int i = 0; i < 63; ++i)
        b.arrive(static_cast<uint8_t>(i), 1.0 + i * kByteMs, false);
    const double fullAt = 1.0 + 61 * kByteMs;
    EXPECT_DOUBLE_EQ(fullAt, b.nextSendMs());
    b.advance(fullAt);
    ASSERT_EQ(62u, b.host().size());
    EXPECT_TRUE(b.host().back().packetEnd);
    // The 63rd waits for the timer, restarted by the full packet.
    EXPECT_DOUBLE_EQ(fullAt + 16, b.nextSendMs());
}

TEST(BridgeRules, IdleChipKeepsItsGridWithStatusOnlyPackets)
{
    // With nothing to send the chip still sends the status bytes at every expiry, and each
    // restarts the timer: after 100 ms of silence the grid is still 0, 16, 32 ... 96, 112.
    Bridge b = d2xx(16);
    b.advance(100.0);
    b.arrive(kAck, 100.5, false);
    EXPECT_DOUBLE_EQ(112.0, b.nextSendMs());
}

TEST(BridgeRules, SettingTheLatencyTimerRestartsIt)
{
    Bridge b = d2xx(16);
    b.setLatency(2, 5.3);
    b.arrive(kAck, 6.0, false);
    EXPECT_DOUBLE_EQ(7.3, b.nextSendMs());
    b.advance(7.3);
    b.arrive(kAck, 10.0, false);
    EXPECT_DOUBLE_EQ(11.3, b.nextSendMs());   // 7.3, 9.3, 11.3
}

TEST(BridgeRules, ThroughLibftdiADuePacketWaitsForTheNextReadAndRestartsTheTimerThen)
{
    Bridge b = libftdi(16);
    Bridge::Packet p;
    std::vector<uint8_t> data;
    // No read pending: the status-only packet due at 16 cannot leave.
    b.arrive(kAck, 20.0, false);
    // The program reads at 25: what came due leaves into that read at once.
    ASSERT_TRUE(b.fetch(25.0, 25.0, p, data));
    EXPECT_DOUBLE_EQ(25.0, p.atMs);
    EXPECT_EQ(std::vector<uint8_t>{kAck}, data);
    // The timer restarted at 25: a read pending from 26 gets the status bytes at 41.
    data.clear();
    EXPECT_FALSE(b.fetch(26.0, 40.9, p, data));
    ASSERT_TRUE(b.fetch(26.0, 41.0, p, data));
    EXPECT_DOUBLE_EQ(41.0, p.atMs);
    EXPECT_EQ(0u, p.count);
    // A reply arriving while a read waits leaves at the next expiry: 57.
    b.arrive(kAck, 50.0, false);
    EXPECT_FALSE(b.fetch(41.0, 56.9, p, data));
    ASSERT_TRUE(b.fetch(41.0, 57.0, p, data));
    EXPECT_EQ(1u, p.count);
}

TEST(BridgeRules, RepliesAreRecordedWhenTheirLastByteReachesTheHost)
{
    Bridge b = libftdi(2);
    Bridge::Packet p;
    std::vector<uint8_t> data;
    b.arrive(kAck, 1.0, false, 7);
    EXPECT_TRUE(b.takeDelivered().empty());
    ASSERT_TRUE(b.fetch(1.5, 3.0, p, data));
    auto delivered = b.takeDelivered();
    ASSERT_EQ(1u, delivered.size());
    EXPECT_EQ(7, delivered[0].first);
    EXPECT_DOUBLE_EQ(2.0, delivered[0].second);
}

}  // namespace
