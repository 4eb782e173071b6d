// The station, --wait and the log through libftdi1 on emulated FT232R bridges that are plugged
// in and pulled out while kplx runs (the emulator's timeline, with the kernel's uevents).
#include "libftdi_fixture.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <map>

using namespace kplxtest;
using nlohmann::json;

namespace {

using StationUsb = Libftdi;

TEST_F(StationUsb, MetersComeAndGoAndEachPlugInIsLoadedOnceWhileTheCableIsNeverTouched)
{
    config(meter("KP000001", "port 1-1\n") +
           meter("KP000002", "port 1-2\nplug-in-at 1000\npull-out-at 5000\nplug-in-at 6000\n") +
           "device cable\nserial FT000003\nport 1-3\nplug-in-at 500\n");
    // The emulation runs in real time and KP000002's first load must end before its pull-out:
    // ten blocks keep it far inside that window however busy the machine is.
    const std::string db = (dir / "ten-blocks.db").string();
    writeFile(db, pattern(1280, 3));
    const fs::path log = dir / "station.jsonl";
    Ran r = kplx({"load", "--watch", "--count", "3", "--raw", "--log", log.string(), db});
    EXPECT_EQ(0, r.code) << r.err;
    std::map<std::string, int> loads;
    for (const json &line : logLines(log)) {
        SCOPED_TRACE(line.dump());
        EXPECT_EQ("ok", line["result"]);
        EXPECT_EQ(1280, line["databaseBytes"]);
        loads[line["serial"].dump() + " at " + line["location"].dump()] += 1;
    }
    EXPECT_EQ((std::map<std::string, int>{{"\"KP000001\" at \"1-1\"", 1}, {"\"KP000002\" at \"1-2\"", 2}}), loads);
    EXPECT_EQ(2u, databaseFrames("KP000002"));
    EXPECT_EQ("2", usb("KP000002", "plug-ins"));
    EXPECT_EQ("ftdi_sio", usb("KP000002", "driver"));
    // The cable was seen and reported, never opened.
    EXPECT_NE(std::string::npos, r.out.find("FT000003 at 1-3: not a meter")) << r.out;
    EXPECT_EQ("0", usb("FT000003", "controls"));
    EXPECT_EQ("0", usb("FT000003", "others"));
}

TEST_F(StationUsb, WaitForAMeterThatIsPluggedInLaterOrNeverIs)
{
    config(meter("KP000001", "port 1-1\n") + meter("KP000002", "port 1-2\nplug-in-at 800\n"));
    Ran late = kplx({"load", "-s", "KP000002", "--wait", "20", packed});
    EXPECT_EQ(0, late.code) << late.err;
    EXPECT_EQ(1u, databaseFrames("KP000002"));

    Ran never = kplx({"load", "-p", "1-4", "--wait", "1", packed});
    EXPECT_EQ(3, never.code);
    EXPECT_NE(std::string::npos, never.err.find("waited 1 s and still missing a device at port 1-4")) << never.err;
}

TEST_F(StationUsb, DryRunSendsNoDatabase)
{
    config(meter("KP000001", "port 1-1\n"));
    Ran r = kplx({"load", "--dry-run", packed});
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("KP000001: would load 70085 bytes in 548 blocks")) << r.out;
    EXPECT_EQ(0u, databaseFrames("KP000001"));
    EXPECT_EQ(1u, frameLog(dir / "KP000001.frames").size());   // VERSION
}

TEST_F(StationUsb, TwoKplxOnTwoBenchesShareOneLog)
{
    const fs::path log = dir / "shared.jsonl";
    auto bench = [&](const std::string &name, const std::string &a, const std::string &b) {
        writeText(dir / (name + ".cfg"), meter(a, "port 1-1\n") + meter(b, "port 1-2\n"));
        environment = {{"KPLX_SIM_CONFIG", (dir / (name + ".cfg")).string()}};
        via = {KPLX_EMULATOR, "--"};
        return start({"load", "--all", "--log", log.string(), "--station", name, packed}, name);
    };
    pid_t one = bench("one", "KA000001", "KA000002"), two = bench("two", "KB000001", "KB000002");
    EXPECT_EQ(0, finish(one, "one").code) << readText(dir / "one.err");
    EXPECT_EQ(0, finish(two, "two").code) << readText(dir / "two.err");
    std::map<std::string, std::string> stationOf;
    for (const json &line : logLines(log))
        stationOf[line["serial"]] = line["station"];
    EXPECT_EQ((std::map<std::string, std::string>{
                  {"KA000001", "one"}, {"KA000002", "one"}, {"KB000001", "two"}, {"KB000002", "two"}}),
              stationOf);
}

}  // namespace
