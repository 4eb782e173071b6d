// Link timing: wire time at the set baud rate, meter processing, and the bridge's latency
// timer (counted in whole milliseconds from the first byte it holds) and event character.
#include "sim_support.h"

#include <cmath>

using simtest::Bytes;
using simtest::frame;

namespace {

const double kByteMs = 10000.0 / 115200;

class Link : public simtest::SimTest {
protected:
    void startLinked(const std::string &version = "V") {
        sim::DeviceConfig c = sim::defaultConfig(sim::Role::meter);
        c.version = version;
        start({c});
        sim::Link link;
        link.enabled = true;
        link.latencyMs = 16;
        link.processMs = 1;
        sim::setLink(link);
        ASSERT_EQ(FT_OK, simtest::bind<FtSetBaudRateFn>(FT_ORDINAL_SET_BAUD_RATE)(handle, 115200));
    }
};

TEST_F(Link, WireTimeProcessingAndLatencyTimerDelayTheReply) {
    startLinked();
    send(frame(std::string(128, 'p')));   // 131 bytes
    const sim::FrameRecord r = sim::frames(0).at(0);
    EXPECT_NEAR(11.37, r.timeMs, 0.01);
    // The ACK reaches the bridge at 12.46 ms; the timer runs out at the 16th boundary after.
    EXPECT_DOUBLE_EQ(std::floor(r.timeMs + 1 + kByteMs) + 16, r.replyReadableMs);
    EXPECT_EQ(Bytes{0x06}, receive(1));   // waits for the reply, not the timeout
    EXPECT_DOUBLE_EQ(r.replyReadableMs, sim::nowMs());
    send(frame("B"));
    EXPECT_DOUBLE_EQ(r.replyReadableMs, sim::frames(0)[1].firstByteMs);
}

TEST_F(Link, FullUsbPacketsAreReadableBeforeTheLatencyTimer) {
    startLinked(std::string(100, 'v'));   // a 104-byte reply
    send(frame("VERSION"));
    double start = sim::frames(0)[0].timeMs + 1;
    EXPECT_EQ(62u, receive(62).size());
    EXPECT_NEAR(start + 62 * kByteMs, sim::nowMs(), 1e-9);
    EXPECT_EQ(42u, receive(42).size());
    EXPECT_DOUBLE_EQ(std::floor(start + 63 * kByteMs) + 16, sim::nowMs());   // a new buffer's timer
}

TEST_F(Link, LatencyTimerIsSetForTheSessionAndBackToTheDefaultAtOpen) {
    startLinked();
    auto setLatency = reinterpret_cast<FtSetLatencyTimerFn>(sim::lookupProc(0, "FT_SetLatencyTimer"));
    auto getLatency = reinterpret_cast<FtGetLatencyTimerFn>(sim::lookupProc(0, "FT_GetLatencyTimer"));
    UCHAR ms = 0;
    ASSERT_EQ(FT_OK, getLatency(handle, &ms));
    EXPECT_EQ(16, ms);
    EXPECT_EQ(FT_INVALID_PARAMETER, setLatency(handle, 1));
    ASSERT_EQ(FT_OK, setLatency(handle, 2));
    send(frame("X"));
    EXPECT_EQ(Bytes{0x06}, receive(1));
    EXPECT_DOUBLE_EQ(std::floor(sim::frames(0)[0].timeMs + 1 + kByteMs) + 2, sim::nowMs());

    ASSERT_EQ(FT_OK, close(handle));
    ASSERT_EQ(FT_OK, open(0, &handle));
    ASSERT_EQ(FT_OK, getLatency(handle, &ms));
    EXPECT_EQ(16, ms);
}

TEST_F(Link, EventCharacterSendsTheReplyTheMomentItArrives) {
    startLinked();
    auto setChars = reinterpret_cast<FtSetCharsFn>(sim::lookupProc(0, "FT_SetChars"));
    ASSERT_EQ(FT_OK, setChars(handle, 0x06, 1, 0, 0));
    send(frame("END"));   // ACK, then the 10-byte "SUCCESS" frame
    const double ackAt = sim::frames(0)[0].timeMs + 1 + kByteMs;
    EXPECT_EQ(Bytes{0x06}, receive(1));
    EXPECT_DOUBLE_EQ(ackAt, sim::nowMs());
    // The rest holds no ACK: it waits for the timer, from its own first byte.
    EXPECT_EQ(10u, receive(10).size());
    EXPECT_DOUBLE_EQ(std::floor(ackAt + kByteMs) + 16, sim::nowMs());
}

TEST_F(Link, PurgeKeepsWhatIsStillOnTheWire) {
    startLinked();
    ASSERT_EQ(FT_OK, setTimeouts(handle, 1, 1));
    send(frame("X"));   // the ACK reaches the bridge at 1.43 ms
    EXPECT_TRUE(receive(1).empty());
    ASSERT_EQ(FT_OK, purge(handle, FT_PURGE_RX));
    ASSERT_EQ(FT_OK, setTimeouts(handle, 200, 200));
    EXPECT_EQ(Bytes{0x06}, receive(1));
}

}  // namespace
