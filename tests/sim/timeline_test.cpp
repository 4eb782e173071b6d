// Meters plugged in and pulled out while a client runs, through the D2XX entry points on the
// virtual clock: what is listed when, what a pull-out does to an open handle, and what a new
// plug-in starts afresh.
#include "sim_support.h"
#include "usb/eeprom_record.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

using simtest::Bytes;
using simtest::frame;

namespace {

sim::DeviceConfig meterWith(const std::string &serial, std::vector<sim::PlugEvent> timeline) {
    sim::DeviceConfig c = sim::defaultConfig(sim::Role::meter);
    c.eeprom.serialNumber = serial;
    c.timeline = std::move(timeline);
    return c;
}

class Timeline : public simtest::SimTest {
protected:
    void begin(const std::vector<sim::DeviceConfig> &devices) {
        sim::reset();
        for (const sim::DeviceConfig &d : devices) sim::addDevice(d);
    }
    std::vector<std::string> serials() {
        std::vector<std::string> out;
        for (DWORD i = 0, n = listed(); i < n; ++i) {
            char serial[64] = "";
            EXPECT_EQ(FT_OK, listDevices(reinterpret_cast<PVOID>(static_cast<uintptr_t>(i)), serial,
                                         FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER));
            out.push_back(serial);
        }
        return out;
    }
    std::string openedSerial(int index) {
        FT_HANDLE h = nullptr;
        if (open(index, &h) != FT_OK) return "not opened";
        FT_DEVICE type = 0;
        DWORD id = 0;
        char serial[16] = "", description[64] = "";
        EXPECT_EQ(FT_OK, getDeviceInfo(h, &type, &id, serial, description, nullptr));
        EXPECT_EQ(FT_OK, close(h));
        return serial;
    }
};

// --- What is listed ------------------------------------------------------------------------

TEST_F(Timeline, ListingHasExactlyTheDevicesPresentAtEachMoment) {
    begin({meterWith("KP000001", {}), meterWith("KP000002", {{100, true}, {300, false}, {500, true}}),
           meterWith("KP000003", {{200, false}})});
    EXPECT_EQ((std::vector<std::string>{"KP000001", "KP000003"}), serials());
    sim::waitUntilMs(99.5);
    EXPECT_EQ(2u, listed());
    sim::waitUntilMs(100);   // the plug-in's own moment counts
    EXPECT_EQ((std::vector<std::string>{"KP000001", "KP000002", "KP000003"}), serials());
    sim::waitUntilMs(250);
    EXPECT_EQ((std::vector<std::string>{"KP000001", "KP000002"}), serials());
    sim::waitUntilMs(300);
    EXPECT_EQ((std::vector<std::string>{"KP000001"}), serials());
    sim::waitUntilMs(100000);
    EXPECT_EQ((std::vector<std::string>{"KP000001", "KP000002"}), serials());
    EXPECT_EQ(2, sim::plugIns(1));
    EXPECT_EQ(1, sim::plugIns(0));
    EXPECT_EQ(1, sim::plugIns(2));   // there from the start, never plugged in again
}

TEST_F(Timeline, OpenByIndexFollowsTheListingNotTheOrderOfTheFile) {
    begin({meterWith("KP000001", {{100, true}}), meterWith("KP000002", {})});
    EXPECT_EQ("KP000002", openedSerial(0));
    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_DEVICE_NOT_FOUND, open(1, &h));
    sim::waitUntilMs(100);
    EXPECT_EQ("KP000001", openedSerial(0));
    EXPECT_EQ("KP000002", openedSerial(1));
}

// --- A pull-out while the device is open ----------------------------------------------------

TEST_F(Timeline, PullOutMidTransferFailsTheHandleAsAnUnplug) {
    sim::reset();
    sim::Link link;
    link.enabled = true;
    sim::setLink(link);
    sim::addDevice(meterWith("KP000001", {{200, false}}));
    ASSERT_EQ(FT_OK, open(0, &handle));
    ASSERT_EQ(FT_OK, setTimeouts(handle, 1000, 1000));
    ASSERT_EQ(FT_OK, simtest::bind<FtSetBaudRateFn>(FT_ORDINAL_SET_BAUD_RATE)(handle, 115200));
    ASSERT_EQ(FT_OK, send(frame("DATABASE")));
    // Stop and wait, as a loader does, until the handle fails.
    int acked = 0;
    for (;;) {
        uint8_t ack = 0;
        DWORD got = 0;
        FT_STATUS s = read(handle, &ack, 1, &got);
        if (s != FT_OK) {
            EXPECT_EQ(FT_IO_ERROR, s);
            break;
        }
        ASSERT_EQ(1u, got);
        ASSERT_EQ(0x06, ack);
        ++acked;
        ASSERT_LT(acked, 100);
        Bytes block = frame(std::string(128, 'b'));
        DWORD n = 0;
        s = write(handle, block.data(), static_cast<DWORD>(block.size()), &n);
        if (s != FT_OK) {
            EXPECT_EQ(FT_IO_ERROR, s);
            break;
        }
    }
    // About 16 ms a block: the meter took some, then the handle failed, and not at a read's
    // timeout but at the pull-out.
    EXPECT_GT(acked, 5);
    DWORD n = 0;
    uint8_t b[1];
    EXPECT_EQ(FT_IO_ERROR, read(handle, b, 1, &n));
    EXPECT_EQ(FT_IO_ERROR, write(handle, b, 1, &n));
    EXPECT_EQ(FT_IO_ERROR, setTimeouts(handle, 1, 1));
    EXPECT_DOUBLE_EQ(200, sim::nowMs());
    // The block still on the wire at the pull-out never reached the meter.
    ASSERT_EQ(static_cast<size_t>(acked), sim::frames(0).size());
    EXPECT_LT(sim::frames(0).back().timeMs, 200);
    EXPECT_EQ(0u, listed());
    EXPECT_FALSE(sim::plugged(0));
    EXPECT_EQ(FT_OK, close(handle));
    EXPECT_EQ(FT_INVALID_HANDLE, close(handle));
}

TEST_F(Timeline, AReadWaitingAtThePullOutFailsThenNotAtItsTimeout) {
    begin({meterWith("KP000001", {{300, false}})});
    ASSERT_EQ(FT_OK, open(0, &handle));
    ASSERT_EQ(FT_OK, setTimeouts(handle, 1000, 1000));
    EXPECT_TRUE(receive(1, FT_IO_ERROR).empty());
    EXPECT_DOUBLE_EQ(300, sim::nowMs());
}

// --- A new plug-in ------------------------------------------------------------------------

// A client that kept its handle over a pull-out must not reach the device plugged in next.
TEST_F(Timeline, AHandleOfAnEarlierPlugInNeverReachesTheNewOne) {
    begin({meterWith("KP000001", {{100, false}, {200, true}})});
    ASSERT_EQ(FT_OK, open(0, &handle));
    FT_HANDLE old = handle;
    sim::waitUntilMs(200);
    EXPECT_EQ(FT_IO_ERROR, send(frame("DATABASE")));
    EXPECT_EQ(FT_OK, open(0, &handle));   // the new plug-in is not held by the old handle
    EXPECT_NE(old, handle);
    EXPECT_EQ(FT_IO_ERROR, setTimeouts(old, 1, 1));
    EXPECT_EQ(FT_OK, close(old));
    EXPECT_EQ(FT_INVALID_HANDLE, close(old));
    ASSERT_EQ(FT_OK, setTimeouts(handle, 100, 100));
    ASSERT_EQ(FT_OK, send(frame("X")));
    EXPECT_EQ(Bytes{0x06}, receive(1));
    EXPECT_EQ(FT_OK, close(handle));
}

class TimelineFiles : public Timeline {
protected:
    std::string dir;
    void SetUp() override {
        Timeline::SetUp();
        std::string pattern = ::testing::TempDir() + "kplx-sim-timeline-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
        dir = pattern + "/";
    }
    void TearDown() override {
        for (const char *f : {"calls.txt", "db.bin", "frames.txt"}) remove((dir + f).c_str());
        rmdir(dir.c_str());
        Timeline::TearDown();
    }
    static std::string slurp(const std::string &path) {
        std::ostringstream s;
        s << std::ifstream(path, std::ios::binary).rdbuf();
        return s.str();
    }
    void session(std::initializer_list<const char *> payloads, const Bytes &replies) {
        ASSERT_EQ(FT_OK, open(0, &handle));
        ASSERT_EQ(FT_OK, setTimeouts(handle, 10, 10));
        for (const char *p : payloads) send(frame(p));
        EXPECT_EQ(replies, receive(static_cast<DWORD>(replies.size())));
        ASSERT_EQ(FT_OK, close(handle));
    }
};

TEST_F(TimelineFiles, ASecondPlugInRestartsTheFaultNumbersAndTheDatabase) {
    sim::DeviceConfig c = meterWith("KP000001", {{10, true}, {100, false}, {200, true}});
    c.faults.nakAtFrame = 1;
    c.callsOut = dir + "calls.txt";
    c.databaseOut = dir + "db.bin";
    c.framesOut = dir + "frames.txt";
    begin({c});
    sim::waitUntilMs(10);
    session({"DATABASE", "a", "a", "END"}, {0x06, 0x15, 0x06, 0x06});
    EXPECT_EQ("a", slurp(c.databaseOut));
    sim::waitUntilMs(200);
    session({"DATABASE", "b", "c"}, {0x06, 0x15, 0x06});   // frame 1 again: NAK
    EXPECT_EQ("c", slurp(c.databaseOut));   // the latest plug-in's only
    EXPECT_FALSE(sim::databaseComplete(0));
    EXPECT_EQ(7u, sim::frames(0).size());   // the log keeps both
    EXPECT_EQ(7, static_cast<int>(std::count(std::istreambuf_iterator<char>(std::ifstream(c.framesOut).rdbuf()),
                                             std::istreambuf_iterator<char>(), '\n')));
    EXPECT_EQ("plug-in\nopen\nclose\npull-out\nplug-in\nopen\nclose\n", slurp(c.callsOut));
    EXPECT_EQ(2, sim::plugIns(0));
}

TEST_F(TimelineFiles, UnplugAtCountsFromEachPlugIn) {
    sim::DeviceConfig c = meterWith("KP000001", {{100, false}, {200, true}});
    c.faults.unplugAtFrame = 1;
    c.callsOut = dir + "calls.txt";
    begin({c});
    ASSERT_EQ(FT_OK, open(0, &handle));
    send(frame("A"));
    send(frame("B"));
    EXPECT_EQ(FT_IO_ERROR, send(frame("C")));
    EXPECT_EQ(FT_OK, close(handle));
    sim::waitUntilMs(150);   // the pull-out finds it gone already: nothing to log
    sim::waitUntilMs(200);
    ASSERT_EQ(FT_OK, open(0, &handle));
    EXPECT_EQ(FT_OK, send(frame("A")));
    EXPECT_EQ(FT_OK, send(frame("B")));
    EXPECT_EQ(FT_IO_ERROR, send(frame("C")));
    EXPECT_EQ(FT_OK, close(handle));
    EXPECT_EQ(4u, sim::frames(0).size());
    EXPECT_EQ("open\nclose\nplug-in\nopen\nclose\n", slurp(c.callsOut));
}

TEST_F(TimelineFiles, EachPlugInStartsThePortAndTheOpenCountAfresh) {
    sim::DeviceConfig c = meterWith("KP000001", {{100, false}, {200, true}});
    c.faults.eepromFailFromOpen = 1;
    begin({c});
    ASSERT_EQ(FT_OK, open(0, &handle));
    ASSERT_EQ(FT_OK, simtest::bind<FtSetBaudRateFn>(FT_ORDINAL_SET_BAUD_RATE)(handle, 115200));
    ASSERT_EQ(FT_OK, close(handle));
    sim::waitUntilMs(200);
    EXPECT_EQ(1u, listed());
    EXPECT_EQ(9600u, sim::port(0).baudRate);
    EXPECT_FALSE(sim::port(0).open);
    EepromStrings strings;
    FT_PROGRAM_DATA data;
    prepareEepromRead(data, strings.manufacturer, strings.manufacturerId, strings.description, strings.serialNumber,
                      0x0403, 0x6001);
    ASSERT_EQ(FT_OK, open(0, &handle));   // open 0 of this plug-in
    EXPECT_EQ(FT_OK, eeRead(handle, &data));
    ASSERT_EQ(FT_OK, close(handle));
}

// --- The configuration file ----------------------------------------------------------------

class TimelineConfig : public TimelineFiles {
protected:
    bool load(const std::string &text) {
        std::ofstream(dir + "calls.txt") << text;
        return sim::loadConfig(dir + "calls.txt");
    }
};

TEST_F(TimelineConfig, DirectivesMakeTheTimeline) {
    sim::reset();
    ASSERT_TRUE(load("device meter\nplug-in-at 100\npull-out-at 0x200\ndevice meter\npull-out-at 50\n"))
        << sim::configError();
    const std::vector<sim::PlugEvent> &t = sim::device(0).timeline;
    ASSERT_EQ(2u, t.size());
    EXPECT_TRUE(t[0].plugIn && !t[1].plugIn);
    EXPECT_DOUBLE_EQ(512, t[1].atMs);
    EXPECT_FALSE(sim::plugged(0));
    EXPECT_TRUE(sim::plugged(1));
}

TEST_F(TimelineConfig, EventsOutOfOrderOrThatChangeNothingAreErrors) {
    sim::reset();
    const std::pair<const char *, const char *> cases[] = {
        {"device meter\nplug-in-at 100\npull-out-at 100\n", "line 3: pull-out-at 100 is not after"},
        {"device meter\npull-out-at 300\nplug-in-at 200\n", "line 3: plug-in-at 200 is not after"},
        {"device meter\nplug-in-at 100\nplug-in-at 200\n", "line 3: plug-in-at 200: the device is plugged in already"},
        {"device meter\nplug-in-at 100\n", ""},
        {"device meter\nplug-in-at\n", "line 2: plug-in-at needs a time in milliseconds"},
        {"device meter\npull-out-at 1.5\n", "line 2: pull-out-at needs a time"},
        {"device meter\nplug-in-at 100\npull-out-at 200\npull-out-at 300\n", "line 4: pull-out-at 300: the device is out"},
        {"plug-in-at 100\n", "line 1: plug-in-at before any device line"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(*c.second == '\0', load(c.first)) << c.first;
        EXPECT_EQ(0u, sim::configError().rfind(c.second, 0)) << c.first << " gave: " << sim::configError();
    }
}

// A fixture's socket takes one meter after another, never two at once; a hub is no device.
TEST_F(TimelineConfig, TwoDevicesShareAPortOnlyAtDifferentTimes) {
    sim::reset();
    EXPECT_TRUE(load("device meter\nport 1-2\npull-out-at 100\ndevice meter\nport 1-2\nplug-in-at 100\n"))
        << sim::configError();
    EXPECT_FALSE(load("device meter\nport 1-2\npull-out-at 101\ndevice meter\nport 1-2\nplug-in-at 100\n"));
    EXPECT_EQ("line 4: the device at port 1-2 is plugged in while the device of line 1 is at 1-2", sim::configError());
    EXPECT_FALSE(load("device meter\nport 1-3.1\ndevice meter\nport 1-3\nplug-in-at 5000\n"));
    EXPECT_FALSE(load("device meter\ndevice meter\nport 1-1.4\n"));   // the first is at 1-1
    EXPECT_TRUE(load("device meter\nport 1-3.1\ndevice meter\nport 1-3.10\n")) << sim::configError();
}

TEST(LocationId, TheBusAndEachPortAreAHexDigit) {
    const std::pair<const char *, uint32_t> cases[] = {
        {"1-2.3", 0x123}, {"1-4", 0x14}, {"1-15.15", 0x1FF}, {"1-10", 0x1A}, {"1-1.2.3.4.5.6.7", 0x11234567},
        {"1-16", 0}, {"1-2.3.4.5.6.7.8.9", 0}, {"1-", 0}, {"1-2..3", 0}, {"2.3", 0}, {"1-0", 0}, {"", 0},
    };
    for (const auto &c : cases) EXPECT_EQ(c.second, sim::locationId(c.first)) << c.first;
}

// A port whose location ID would be 0 is refused in the configuration.
TEST_F(TimelineConfig, PortsWithoutALocationDigitAreRefused) {
    sim::reset();
    for (const char *port : {"1-0", "1-16", "1-1.2.3.4.5.6.7.8", "2-1", "1-2."})
        EXPECT_FALSE(load(std::string("device meter\nport ") + port + "\n")) << port;
}

}  // namespace
