// The faults a test can give a device, counted by frame number from 0.
#include "sim_support.h"
#include "usb/eeprom_record.h"

using simtest::Bytes;
using simtest::frame;

namespace {

class Faults : public simtest::SimTest {
protected:
    sim::DeviceConfig meter = sim::defaultConfig(sim::Role::meter);
    void sendAll(std::initializer_list<const char *> payloads) {
        for (const char *p : payloads) send(frame(p));
    }
};

TEST_F(Faults, NakAtFrameRejectsThatBlockOnly) {
    meter.faults.nakAtFrame = 2;
    start({meter});
    sendAll({"DATABASE", "a", "b", "b", "END"});
    EXPECT_EQ((Bytes{0x06, 0x06, 0x15, 0x06, 0x06}), receive(5));
    EXPECT_EQ((Bytes{'a', 'b'}), sim::receivedDatabase(0));
}

TEST_F(Faults, SilenceFromFrameAnswersAndRecordsNothing) {
    meter.faults.silentFromFrame = 1;
    start({meter});
    sendAll({"DATABASE", "a", "END"});
    EXPECT_EQ(Bytes{0x06}, receive(5));
    EXPECT_EQ(3u, sim::frames(0).size());
    EXPECT_DOUBLE_EQ(-1, sim::frames(0)[2].replyReadableMs);
    EXPECT_TRUE(sim::receivedDatabase(0).empty());
}

TEST_F(Faults, RawReplyReplacesTheNormalOne) {
    meter.faults.rawReplyAtFrame = 1;
    meter.faults.rawReply = {0x06, 0x02, 0x01, 0x41};
    start({meter});
    sendAll({"x", "END", "y"});
    EXPECT_EQ((Bytes{0x06, 0x06, 0x02, 0x01, 0x41, 0x06}), receive(6));
}

TEST_F(Faults, PiecesCapEachReadWithoutWaiting) {
    meter.faults.replyPieces = {3, 10};
    start({meter});
    send(frame("VERSION"));   // a 20-byte reply
    EXPECT_EQ(3u, receive(100).size());
    EXPECT_EQ(2u, receive(2).size());     // within a piece
    EXPECT_EQ(8u, receive(100).size());   // the rest of that piece
    EXPECT_EQ(7u, receive(100).size());
    EXPECT_DOUBLE_EQ(0, sim::nowMs());
    send(frame("X"));                     // every reply starts over
    EXPECT_EQ(Bytes{0x06}, receive(100));
}

TEST_F(Faults, UnplugFailsTheHandleAndShiftsTheListing) {
    meter.faults.unplugAtFrame = 1;
    sim::DeviceConfig other = sim::defaultConfig(sim::Role::meter);
    other.eeprom.serialNumber = "KP000002";
    start({meter, other});
    sendAll({"DATABASE", "a"});
    EXPECT_EQ(FT_IO_ERROR, send(frame("b")));
    EXPECT_TRUE(receive(5, FT_IO_ERROR).empty());
    EXPECT_EQ(FT_IO_ERROR, setTimeouts(handle, 1, 1));
    EXPECT_EQ(2u, sim::frames(0).size());
    EXPECT_EQ(1u, listed());
    char serial[64];
    ASSERT_EQ(FT_OK, listDevices(nullptr, serial, 0x40000000UL | 1));
    EXPECT_STREQ("KP000002", serial);
    EXPECT_EQ(FT_OK, close(handle));
    EXPECT_EQ(FT_INVALID_HANDLE, close(handle));
}

TEST_F(Faults, EepromAndOpenFailures) {
    meter.faults.eepromReadFails = true;
    sim::DeviceConfig broken = sim::defaultConfig(sim::Role::meter);
    broken.faults.openFails = true;
    start({meter, broken});
    FT_PROGRAM_DATA data{};
    EXPECT_EQ(FT_EEPROM_READ_FAILED, eeRead(handle, &data));
    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_DEVICE_NOT_OPENED, open(1, &h));
    EXPECT_EQ(2u, listed());
    sim::unplug(0);
    EXPECT_EQ(FT_IO_ERROR, eeRead(handle, &data));
}

TEST_F(Faults, EepromFailsFromTheGivenOpenOn) {
    meter.faults.eepromFailFromOpen = 1;
    start({meter});   // open 0
    EepromStrings strings;
    FT_PROGRAM_DATA data;
    prepareEepromRead(data, strings.manufacturer, strings.manufacturerId, strings.description, strings.serialNumber,
                      0x0403, 0x6001);
    EXPECT_EQ(FT_OK, eeRead(handle, &data));
    EXPECT_STREQ("Quorvel KPLX", strings.description);
    EXPECT_EQ(FT_OK, eeRead(handle, &data));   // the same handle still reads
    ASSERT_EQ(FT_OK, close(handle));
    for (int later = 1; later <= 2; ++later) {
        ASSERT_EQ(FT_OK, open(0, &handle)) << later;
        EXPECT_EQ(FT_EEPROM_READ_FAILED, eeRead(handle, &data)) << later;
        ASSERT_EQ(FT_OK, close(handle));
    }
    // A failed open is not counted.
    sim::DeviceConfig busy = sim::defaultConfig(sim::Role::meter);
    busy.faults.eepromFailFromOpen = 1;
    start({busy});
    FT_HANDLE other = nullptr;
    EXPECT_EQ(FT_DEVICE_NOT_OPENED, open(0, &other));
    EXPECT_EQ(FT_OK, eeRead(handle, &data));
}

TEST(Ordinals, MissingOnesAreNotFoundUntilReset) {
    sim::reset();
    sim::setMissingOrdinals({FT_ORDINAL_SET_TIMEOUTS});
    EXPECT_EQ(nullptr, sim::procByOrdinal(FT_ORDINAL_SET_TIMEOUTS));
    EXPECT_EQ(nullptr, sim::lookupProc(0, "FT_SetTimeouts"));
    EXPECT_EQ(sim::procByOrdinal(FT_ORDINAL_READ), sim::lookupProc(0, "FT_Read"));
    for (int unused : {0, 5, 10, 62}) EXPECT_EQ(nullptr, sim::procByOrdinal(unused));
    sim::reset();
    EXPECT_NE(nullptr, sim::procByOrdinal(FT_ORDINAL_SET_TIMEOUTS));
}

}  // namespace
