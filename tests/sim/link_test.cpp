// Link timing through the D2XX entry points: wire time at the set baud rate, the meter's
// processing time, and the bridge's latency timer (sim/bridge.h) as a stop-and-wait host meets
// them. The virtual clock stands for a host that takes no time of its own.
#include "sim_support.h"

using simtest::Bytes;
using simtest::frame;

namespace {

const double kByteMs = 10000.0 / 115200;

class Link : public simtest::SimTest {
protected:
    void startLinked(const std::string &version = "V") {
        sim::DeviceConfig c = sim::defaultConfig(sim::Role::meter);
        c.version = version;
        sim::reset();
        sim::Link link;
        link.enabled = true;
        link.latencyMs = 16;
        link.processMs = 1;
        sim::addDevice(c);
        sim::setLink(link);   // before the open, which starts the bridge's timer
        ASSERT_EQ(FT_OK, open(0, &handle));
        ASSERT_EQ(FT_OK, setTimeouts(handle, 200, 200));
        ASSERT_EQ(FT_OK, simtest::bind<FtSetBaudRateFn>(FT_ORDINAL_SET_BAUD_RATE)(handle, 115200));
    }
    FtSetLatencyTimerFn setLatency = reinterpret_cast<FtSetLatencyTimerFn>(sim::lookupProc(0, "FT_SetLatencyTimer"));
    FtGetLatencyTimerFn getLatency = reinterpret_cast<FtGetLatencyTimerFn>(sim::lookupProc(0, "FT_GetLatencyTimer"));
};

TEST_F(Link, ReplyWaitsForWireMeterAndTheFirstTimerExpiryAfterIt) {
    startLinked();
    const double opened = sim::nowMs();
    send(frame(std::string(128, 'p')));   // 131 bytes
    const sim::FrameRecord r = sim::frames(0).at(0);
    EXPECT_NEAR(opened + 131 * kByteMs, r.timeMs, 1e-9);
    // The ACK is in the chip 12.46 ms after the write; the timer, started at the open, expires
    // at 16 ms.
    EXPECT_EQ(Bytes{0x06}, receive(1));   // waits for the reply, not the read timeout
    EXPECT_DOUBLE_EQ(opened + 16, sim::nowMs());
    EXPECT_DOUBLE_EQ(opened + 16, sim::frames(0)[0].replyReadableMs);
    send(frame("B"));
    EXPECT_DOUBLE_EQ(opened + 16, sim::frames(0)[1].firstByteMs);
}

// A host that writes each block the moment the previous ACK is readable: every step lasts
// from one ACK's packet to the first expiry after the next ACK arrives. FTDI's figures for
// this wire (ft232r-timing notes): about 16 ms at 16, 14 at 2 and 13 at 1.
TEST_F(Link, StopAndWaitStepTakesTheFirstExpiryAfterEachAck) {
    const struct { uint8_t latency; double stepMs; } cases[] = {{16, 16}, {2, 14}, {1, 13}};
    for (const auto &c : cases) {
        startLinked();
        ASSERT_EQ(FT_OK, setLatency(handle, c.latency));
        for (int i = 0; i < 6; ++i) {
            send(frame(std::string(128, 'b')));
            ASSERT_EQ(Bytes{0x06}, receive(1));
        }
        const std::vector<sim::FrameRecord> &f = sim::frames(0);
        for (size_t i = 1; i < f.size(); ++i)
            EXPECT_NEAR(c.stepMs, f[i].replyReadableMs - f[i - 1].replyReadableMs, 1e-9) << int(c.latency);
    }
}

TEST_F(Link, FullUsbPacketsAreReadableBeforeTheLatencyTimer) {
    startLinked(std::string(100, 'v'));   // a 104-byte reply
    send(frame("VERSION"));
    double start = sim::frames(0)[0].timeMs + 1;
    EXPECT_EQ(62u, receive(62).size());
    EXPECT_NEAR(start + 62 * kByteMs, sim::nowMs(), 1e-9);
    // The rest takes the timer, restarted by the full packet.
    EXPECT_EQ(42u, receive(42).size());
    EXPECT_NEAR(start + 62 * kByteMs + 16, sim::nowMs(), 1e-9);
}

TEST_F(Link, LatencyTimerTakesOneTo255AndIsBackToTheDefaultAtOpen) {
    startLinked();
    UCHAR ms = 0;
    ASSERT_EQ(FT_OK, getLatency(handle, &ms));
    EXPECT_EQ(16, ms);
    EXPECT_EQ(FT_INVALID_PARAMETER, setLatency(handle, 0));
    ASSERT_EQ(FT_OK, setLatency(handle, 1));
    ASSERT_EQ(FT_OK, setLatency(handle, 2));
    const double set = sim::nowMs();
    send(frame("X"));
    EXPECT_EQ(Bytes{0x06}, receive(1));
    EXPECT_DOUBLE_EQ(set + 2, sim::nowMs());   // 1.43 ms on the wire and in the meter: the first expiry

    ASSERT_EQ(FT_OK, close(handle));
    ASSERT_EQ(FT_OK, open(0, &handle));
    ASSERT_EQ(FT_OK, getLatency(handle, &ms));
    EXPECT_EQ(16, ms);
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
