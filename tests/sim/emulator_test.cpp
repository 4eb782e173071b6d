// The emulated FT232R bridges plugged in and pulled out while a program runs: a libusb client
// (usb_watch) under kplx-ft232r-emu sees them come and go in sysfs, in libusb's device list
// and through libusb's hotplug, at a new address each time, and a held bridge fails when it
// is pulled out. The timeline leaves a second between events, so that the client's polling
// (every 20 ms) cannot miss one; what is compared is the order, never the timing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

namespace {

struct Watched {
    int code = -1;
    std::vector<std::string> lines;
    std::string report;

    bool has(const std::string &line) const {
        for (const std::string &l : lines)
            if (l == line) return true;
        return false;
    }
    // The lines starting with `prefix`, in order, without it.
    std::vector<std::string> with(const std::string &prefix) const {
        std::vector<std::string> out;
        for (const std::string &l : lines)
            if (l.compare(0, prefix.size(), prefix) == 0) out.push_back(l.substr(prefix.size()));
        return out;
    }
    std::string all() const {
        std::string s;
        for (const std::string &l : lines) s += l + "\n";
        return s + report;
    }
};

class Emulator : public ::testing::Test {
protected:
    std::string dir;

    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "kplx-emu-plug-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
        dir = pattern + "/";
    }
    void TearDown() override {
        for (const char *f : {"sim.cfg", "out.txt", "err.txt", "report.txt", "calls.txt"}) std::remove((dir + f).c_str());
        rmdir(dir.c_str());
    }
    static std::string slurp(const std::string &path) {
        std::ostringstream s;
        s << std::ifstream(path).rdbuf();
        return s.str();
    }
    Watched watch(const std::string &config, const std::string &options) {
        std::ofstream(dir + "sim.cfg") << config;
        const std::string command = "KPLX_SIM_CONFIG='" + dir + "sim.cfg' '" KPLX_EMULATOR "' --report '" + dir +
                                    "report.txt' -- '" USB_WATCH "' " + options + " >'" + dir + "out.txt' 2>'" +
                                    dir + "err.txt'";
        Watched r;
        int status = std::system(command.c_str());
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::istringstream out(slurp(dir + "out.txt"));
        for (std::string line; std::getline(out, line);) r.lines.push_back(line);
        r.report = slurp(dir + "report.txt");
        return r;
    }
};

// The second meter sits behind a hub at 1-3 (numbered 3, before it) and is plugged in twice.
const char kTwicePlugged[] = "device meter\n"
                             "device meter\nserial KP000007\nport 1-3.2\n"
                             "plug-in-at 2000\npull-out-at 3000\nplug-in-at 4000\npull-out-at 5000\n";

// The states a client saw of one device, from its first view on: its address at the start
// and at each arrival, "-" at each departure. A client started after the first plug-in sees
// the same as one that saw it come.
std::vector<std::string> states(const Watched &r, const std::string &view, const std::string &port) {
    std::vector<std::string> seen;
    const std::string at = port + "@";
    for (const std::string &l : r.lines) {
        std::istringstream in(l);
        std::string first, second, what;
        in >> first >> second >> what;
        if (first == "start" && second == view && what.compare(0, at.size(), at) == 0)
            seen.push_back(what.substr(at.size()));
        else if (first == view && (second == "+" || second == "-") && what.compare(0, at.size(), at) == 0)
            seen.push_back(second == "-" ? "-" : what.substr(at.size()));
    }
    return seen;
}

const std::vector<std::string> kTwice = {"4", "-", "5", "-"};

// The kernel's uevents reach the program's udev monitor (umockdev's preload library redirects
// it): libusb's hotplug callback hears of every arrival and departure, and libusb's device list,
// which on Linux those events keep, follows.
TEST_F(Emulator, ABridgeComesAndGoesInSysfsLibusbAndItsHotplugWithANewAddressEachTime) {
    Watched r = watch(kTwicePlugged, "--departures 2 --seconds 60");
    ASSERT_EQ(0, r.code) << r.all() << slurp(dir + "err.txt");
    ASSERT_EQ("yes", r.with("capability hotplug=").at(0));
    EXPECT_EQ(kTwice, states(r, "list", "1-3.2")) << r.all();
    EXPECT_EQ(kTwice, states(r, "sysfs", "1-3.2")) << r.all();
    const std::vector<std::string> heard = r.with("hotplug "), all = {"arrived 1-3.2@4", "left 1-3.2@4",
                                                                      "arrived 1-3.2@5", "left 1-3.2@5"};
    EXPECT_TRUE(heard == all || heard == std::vector<std::string>(all.begin() + 1, all.end())) << r.all();
    // The device answers at its new address.
    EXPECT_EQ("1-3.2@5 serial=KP000007", r.with("list + ").back()) << r.all();
    // The meter there all along is left as it was.
    EXPECT_TRUE(r.has("start list 1-1@2") && r.has("start sysfs 1-1@2")) << r.all();
    EXPECT_TRUE(states(r, "list", "1-1").size() == 1 && states(r, "sysfs", "1-1").size() == 1) << r.all();
    EXPECT_NE(std::string::npos, r.report.find("KP000001 claims=0 releases=0 controls=0 others=0 driver=ftdi_sio "
                                               "plugged=yes plug-ins=1\n"))
        << r.report;
    EXPECT_NE(std::string::npos, r.report.find(" plugged=no plug-ins=2\n")) << r.report;
}

// A pull-out while a program has the bridge claimed and a read pending ends that read with
// "no device"; the next plug-in is a new device, free to claim. (The meter at 1-1 is held
// too: its ttyUSB0 is free while ftdi_sio is detached, and the arriving bridge takes it.)
TEST_F(Emulator, APullOutFailsTheHeldBridgeAndTheNextPlugInIsFree) {
    Watched r = watch(kTwicePlugged, "--departures 2 --seconds 60 --hold");
    ASSERT_EQ(0, r.code) << r.all();
    EXPECT_EQ((std::vector<std::string>{"4", "4 ended: LIBUSB_ERROR_NO_DEVICE", "5", "5 ended: LIBUSB_ERROR_NO_DEVICE"}),
              r.with("held 1-3.2@"))
        << r.all();
    // Claimed once a plug-in, and let go by the kernel as each left; ftdi_sio was detached and
    // nobody gave it back.
    EXPECT_NE(std::string::npos, r.report.find("KP000007 claims=2 releases=2 ")) << r.report;
    EXPECT_NE(std::string::npos, r.report.find(" driver=none plugged=no plug-ins=2\n")) << r.report;
}

TEST_F(Emulator, PlugInsAndPullOutsAreLoggedInTheCalls) {
    Watched r = watch("device meter\nplug-in-at 2000\npull-out-at 3000\ncalls-out " + dir + "calls.txt\n",
                  "--departures 1 --seconds 60 --hold");
    ASSERT_EQ(0, r.code) << r.all();
    EXPECT_EQ("plug-in\nopen\npull-out\nclose\n", slurp(dir + "calls.txt")) << r.all();
}

}  // namespace
