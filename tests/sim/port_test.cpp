// Handles, listing and reads: the D2XX behaviour every client test relies on.
#include "sim_support.h"

using simtest::Bytes;
using simtest::frame;

namespace {

class Port : public simtest::SimTest {};

TEST_F(Port, ReadOfNothingAdvancesVirtualClockByTimeoutAndSucceeds) {
    start({sim::defaultConfig(sim::Role::cable)});
    send(frame("VERSION"));
    EXPECT_TRUE(receive(10).empty());
    EXPECT_DOUBLE_EQ(200, sim::nowMs());
    EXPECT_TRUE(sim::frames(0).empty());
    ASSERT_EQ(FT_OK, setTimeouts(handle, 0, 0));   // no timeout, capped
    EXPECT_TRUE(receive(1).empty());
    EXPECT_DOUBLE_EQ(60200, sim::nowMs());
}

TEST_F(Port, ReadReturnsAtItsCountOrWithWhatCameAtTimeout) {
    start();
    send(frame("VERSION"));
    EXPECT_EQ(Bytes{0x06}, receive(1));
    EXPECT_DOUBLE_EQ(0, sim::nowMs());
    EXPECT_EQ(19u, receive(100).size());   // 02 10 "KPLX Meter V2.10" CHK
    EXPECT_DOUBLE_EQ(200, sim::nowMs());
}

TEST_F(Port, StaleForeignAndNullHandlesAreInvalid) {
    start();
    FT_HANDLE old = handle;
    ASSERT_EQ(FT_OK, close(old));
    ASSERT_EQ(FT_OK, open(0, &handle));
    EXPECT_NE(old, handle);
    uint8_t b[4];
    DWORD n = 0;
    EXPECT_EQ(FT_INVALID_HANDLE, read(old, b, 1, &n));
    EXPECT_EQ(FT_INVALID_HANDLE, write(nullptr, b, 1, &n));
    EXPECT_EQ(FT_INVALID_HANDLE, close(b));
}

TEST_F(Port, OpenFailuresAndNullArguments) {
    start({sim::defaultConfig(sim::Role::meter), sim::defaultConfig(sim::Role::cable)});
    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_DEVICE_NOT_FOUND, open(2, &h));
    EXPECT_EQ(FT_DEVICE_NOT_FOUND, open(-1, &h));
    EXPECT_EQ(FT_DEVICE_NOT_OPENED, open(0, &h));
    EXPECT_EQ(FT_INVALID_PARAMETER, open(1, nullptr));
    uint8_t b[4];
    EXPECT_EQ(FT_INVALID_PARAMETER, read(handle, b, 1, nullptr));
    EXPECT_EQ(FT_INVALID_PARAMETER, listDevices(nullptr, nullptr, FT_LIST_NUMBER_ONLY));
}

TEST_F(Port, ListDevicesCountsOpenOnesAndNamesByIndex) {
    sim::DeviceConfig cable = sim::defaultConfig(sim::Role::cable);
    cable.eeprom.serialNumber = "FT9";
    start({sim::defaultConfig(sim::Role::meter), cable});
    EXPECT_EQ(2u, listed());
    char text[64];
    ASSERT_EQ(FT_OK, listDevices(reinterpret_cast<PVOID>(1), text, 0x40000000UL | 1));
    EXPECT_STREQ("FT9", text);
    ASSERT_EQ(FT_OK, listDevices(reinterpret_cast<PVOID>(0), text, 0x40000000UL | 2));
    EXPECT_STREQ("Quorvel KPLX", text);
    EXPECT_EQ(FT_DEVICE_NOT_FOUND, listDevices(reinterpret_cast<PVOID>(2), text, 0x40000000UL | 1));
    EXPECT_EQ(FT_NOT_SUPPORTED, listDevices(text, nullptr, 0));
}

TEST_F(Port, PurgeRxDropsThePendingReplyAndOpenRestoresDefaults) {
    start();
    send(frame("VERSION"));
    ASSERT_EQ(FT_OK, purge(handle, FT_PURGE_RX | FT_PURGE_TX));
    EXPECT_TRUE(receive(1).empty());
    send(frame("PING"));
    EXPECT_EQ(Bytes{0x06}, receive(5));
    ASSERT_EQ(FT_INVALID_BAUD_RATE, simtest::bind<FtSetBaudRateFn>(FT_ORDINAL_SET_BAUD_RATE)(handle, 0));
    ASSERT_EQ(FT_OK, simtest::bind<FtClrDtrFn>(FT_ORDINAL_CLR_DTR)(handle));
    EXPECT_TRUE(sim::port(0).dtrCleared);
    ASSERT_EQ(FT_OK, close(handle));
    ASSERT_EQ(FT_OK, open(0, &handle));
    EXPECT_FALSE(sim::port(0).dtrCleared);
    EXPECT_EQ(0u, sim::port(0).readTimeoutMs);
}

}  // namespace
