// The meter's side of the protocol: framing, replies and the database it records.
#include "sim_support.h"

using simtest::Bytes;
using simtest::frame;

namespace {

class Meter : public simtest::SimTest {};

TEST_F(Meter, EndAndVersionAreAnsweredWithAckAndAFrame) {
    sim::DeviceConfig c = sim::defaultConfig(sim::Role::meter);
    c.version = "V9";
    start({c});
    send(frame("END"));
    EXPECT_EQ((Bytes{0x06, 0x02, 0x07, 'S', 'U', 'C', 'C', 'E', 'S', 'S', 0xDF}), receive(11));
    send(frame("VERSION"));
    EXPECT_EQ((Bytes{0x06, 0x02, 0x02, 'V', '9', 0x6E}), receive(100));
}

TEST_F(Meter, DatabaseIsRecordedFromFramesSplitAcrossWrites) {
    start();
    Bytes stream{0x00, 0xFF, 0x15};   // junk before the first STX
    for (const char *p : {"DATABASE", "abc", "", "de\x02", "END"}) {
        Bytes f = frame(p);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    for (uint8_t b : stream) ASSERT_EQ(FT_OK, send(Bytes{b}));
    EXPECT_EQ((Bytes{'a', 'b', 'c', 'd', 'e', 0x02}), sim::receivedDatabase(0));
    EXPECT_TRUE(sim::databaseComplete(0));
    ASSERT_EQ(5u, sim::frames(0).size());
    EXPECT_EQ(frame("DATABASE"), sim::frames(0)[0].bytes);
    EXPECT_EQ(Bytes(4, 0x06), receive(4));
}

TEST_F(Meter, BadChecksumIsNakedLoggedAndNotRecorded) {
    start();
    send(frame("DATABASE"));
    Bytes bad = frame("abc");
    bad.back() ^= 0x01;
    send(bad);
    send(frame("xyz"));
    EXPECT_EQ((Bytes{0x06, 0x15, 0x06}), receive(3));
    EXPECT_FALSE(sim::frames(0)[1].valid);
    EXPECT_EQ((Bytes{'x', 'y', 'z'}), sim::receivedDatabase(0));
}

TEST_F(Meter, OnlyBlocksBetweenDatabaseAndEndAreRecorded) {
    start();
    for (const char *p : {"early", "END", "DATABASE", "VERSION", "END", "late"}) send(frame(p));
    EXPECT_TRUE(sim::receivedDatabase(0).empty());
    EXPECT_TRUE(sim::databaseComplete(0));
}

}  // namespace
