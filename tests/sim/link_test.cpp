// Link timing: wire time at the set baud rate, meter processing, the bridge's latency timer.
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
    EXPECT_NEAR(r.timeMs + 1 + kByteMs + 16, r.replyReadableMs, 1e-9);
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
    EXPECT_NEAR(start + 104 * kByteMs + 16, sim::nowMs(), 1e-9);
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
