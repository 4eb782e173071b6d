// FT_CreateDeviceInfoList and FT_GetDeviceInfoDetail, bound by name as kplx binds them: the
// location from the port, what an open device shows, and a list that is a snapshot.
#include "sim_support.h"

#include <cstring>

namespace {

struct Detail {
    FT_STATUS status = FT_OTHER_ERROR;
    DWORD flags = 0xEEEE, type = 0xEEEE, id = 0xEEEE, locId = 0xEEEE;
    std::string serial, description;
    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(0x1);
};

class DeviceInfo : public simtest::SimTest {
protected:
    FtCreateDeviceInfoListFn createList =
        reinterpret_cast<FtCreateDeviceInfoListFn>(sim::lookupProc(0, "FT_CreateDeviceInfoList"));
    FtGetDeviceInfoDetailFn detailOf =
        reinterpret_cast<FtGetDeviceInfoDetailFn>(sim::lookupProc(0, "FT_GetDeviceInfoDetail"));

    void begin(const std::vector<sim::DeviceConfig> &devices) {
        sim::reset();
        for (const sim::DeviceConfig &d : devices) sim::addDevice(d);
    }
    DWORD made() {
        DWORD n = 12345;
        EXPECT_EQ(FT_OK, createList(&n));
        return n;
    }
    Detail detail(DWORD index) {
        Detail d;
        // One byte past each buffer, to see that nothing is written beyond it.
        char serial[FT_INFO_SERIAL_SIZE + 1], description[FT_INFO_DESCRIPTION_SIZE + 1];
        std::memset(serial, 'Z', sizeof serial);
        std::memset(description, 'Z', sizeof description);
        d.status = detailOf(index, &d.flags, &d.type, &d.id, &d.locId, serial, description, &d.handle);
        EXPECT_EQ('Z', serial[FT_INFO_SERIAL_SIZE]);
        EXPECT_EQ('Z', description[FT_INFO_DESCRIPTION_SIZE]);
        if (d.status == FT_OK) {
            d.serial.assign(serial, strnlen(serial, FT_INFO_SERIAL_SIZE));
            d.description.assign(description, strnlen(description, FT_INFO_DESCRIPTION_SIZE));
        }
        return d;
    }
};

sim::DeviceConfig at(sim::Role role, const std::string &port) {
    sim::DeviceConfig c = sim::defaultConfig(role);
    c.usbPort = port;
    return c;
}

TEST_F(DeviceInfo, EachEntryHasTheDeviceAndALocationFromItsPort) {
    sim::DeviceConfig meter = at(sim::Role::meter, "1-4.3");
    meter.eeprom.serialNumber = "KP000042";
    begin({meter, at(sim::Role::cable, ""), at(sim::Role::meter, "1-15.1")});
    ASSERT_EQ(3u, made());
    Detail m = detail(0);
    ASSERT_EQ(FT_OK, m.status);
    EXPECT_EQ(0u, m.flags);
    EXPECT_EQ(static_cast<DWORD>(FT_DEVICE_232R), m.type);
    EXPECT_EQ(0x04036001u, m.id);
    EXPECT_EQ(0x143u, m.locId);
    EXPECT_EQ("KP000042", m.serial);
    EXPECT_EQ("Quorvel KPLX", m.description);
    EXPECT_EQ(nullptr, m.handle);
    Detail cable = detail(1);
    EXPECT_EQ(0x12u, cable.locId);   // the second device's default port, 1-2
    EXPECT_EQ("FT232R USB UART", cable.description);
    EXPECT_EQ(0x1F1u, detail(2).locId);
    EXPECT_EQ(FT_DEVICE_NOT_FOUND, detail(3).status);
}

TEST_F(DeviceInfo, LongStringsAreCutToTheirBuffersAndTerminated) {
    sim::DeviceConfig c = sim::defaultConfig(sim::Role::meter);
    c.eeprom.serialNumber = "ABCDEFGHIJKLMNOPQRST";
    c.eeprom.description = std::string(80, 'd');
    begin({c});
    made();
    Detail d = detail(0);
    EXPECT_EQ("ABCDEFGHIJKLMNO", d.serial);
    EXPECT_EQ(std::string(63, 'd'), d.description);
}

// The D2XX Programmer's Guide: no location for a device open when the list is made, and
// nothing but the flag for one another process has.
TEST_F(DeviceInfo, OpenDevicesAreFlaggedAndAnotherProgramsShowNothingElse) {
    sim::DeviceConfig held = at(sim::Role::meter, "1-3");
    held.faults.openFails = true;
    begin({at(sim::Role::meter, "1-2"), held});
    ASSERT_EQ(FT_OK, open(0, &handle));
    ASSERT_EQ(2u, made());
    Detail mine = detail(0);
    EXPECT_EQ(static_cast<DWORD>(FT_FLAGS_OPENED), mine.flags);
    EXPECT_EQ(handle, mine.handle);
    EXPECT_EQ(0u, mine.locId);
    EXPECT_EQ("KP000001", mine.serial);
    Detail theirs = detail(1);
    EXPECT_EQ(static_cast<DWORD>(FT_FLAGS_OPENED), theirs.flags);
    EXPECT_EQ(static_cast<DWORD>(FT_DEVICE_UNKNOWN), theirs.type);
    EXPECT_EQ(0u, theirs.id);
    EXPECT_EQ(0u, theirs.locId);
    EXPECT_EQ("", theirs.serial);
    EXPECT_EQ("", theirs.description);
    EXPECT_EQ(nullptr, theirs.handle);
    // Closed, it is whole again once the list is made again.
    ASSERT_EQ(FT_OK, close(handle));
    EXPECT_EQ(static_cast<DWORD>(FT_FLAGS_OPENED), detail(0).flags);
    made();
    EXPECT_EQ(0u, detail(0).flags);
    EXPECT_EQ(0x12u, detail(0).locId);
}

TEST_F(DeviceInfo, TheListStaysAsMadeUntilMadeAgain) {
    sim::DeviceConfig later = at(sim::Role::meter, "1-5");
    later.eeprom.serialNumber = "KP000005";
    later.timeline = {{100, true}};
    begin({at(sim::Role::meter, "1-4"), later});
    EXPECT_EQ(FT_DEVICE_NOT_FOUND, detail(0).status);   // no list made yet
    ASSERT_EQ(1u, made());
    sim::waitUntilMs(100);
    EXPECT_EQ(2u, listed());
    EXPECT_EQ(FT_DEVICE_NOT_FOUND, detail(1).status);
    ASSERT_EQ(2u, made());
    EXPECT_EQ("KP000005", detail(1).serial);
    EXPECT_EQ(0x15u, detail(1).locId);
}

}  // namespace
