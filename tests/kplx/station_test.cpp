// kplx load --watch through the simulator backend, with meters plugged in and pulled out on the
// simulator's timeline while kplx runs: once per plug-in, non-meters reported once and left
// alone, the filters, the log, and the exit codes.
#include "load_fixture.h"

#include <nlohmann/json.hpp>

#include <csignal>
#include <fstream>
#include <map>

using namespace kplxtest;
using nlohmann::json;

namespace {

using Station = Load;

TEST_F(Station, EachMeterIsLoadedOncePerPlugInAndANonMeterIsReportedOnce)
{
    // KP000001 is there from the start and stays; KP000002 comes, goes and comes back; the
    // cable comes and stays.
    config(meter("KP000001") + meter("KP000002", "plug-in-at 500\npull-out-at 2500\nplug-in-at 3500\n") +
           "device cable\nserial FT000003\nplug-in-at 300\n");
    const fs::path log = dir / "station.jsonl";
    Ran r = kplx({"load", "--watch", "--count", "3", "--log", log.string(), packed});
    EXPECT_EQ(0, r.code) << r.err;
    std::map<std::string, int> loads;
    for (const json &line : logLines(log)) {
        EXPECT_EQ("ok", line["result"]);
        loads[line["serial"]] += 1;
    }
    EXPECT_EQ((std::map<std::string, int>{{"KP000001", 1}, {"KP000002", 2}}), loads);
    EXPECT_EQ(1u, databaseFrames("KP000001"));
    EXPECT_EQ(2u, databaseFrames("KP000002"));
    size_t reported = 0;
    for (size_t at = r.out.find("FT000003"); at != std::string::npos; at = r.out.find("FT000003", at + 1))
        ++reported;
    EXPECT_EQ(1u, reported) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("FT000003 at 0x13: not a meter (description \"FT232R USB UART\"), left alone"))
        << r.out;
    EXPECT_NE(std::string::npos, r.out.find("station: 3 loads, 0 failed")) << r.out;
}

TEST_F(Station, FiltersLeaveOtherMetersAloneAndAFailedLoadMakesItExit8)
{
    config(meter("KP000001") + meter("KP000002", "nak-at 5\n") + meter("KP000003"));
    Ran r = kplx({"load", "--watch", "--count", "2", "-s", "KP000002", "-s", "KP000003", packed});
    EXPECT_EQ(8, r.code);
    EXPECT_NE(std::string::npos, r.out.find("KP000001 at 0x11: not named with -s or -p, left alone")) << r.out;
    EXPECT_EQ(0u, databaseFrames("KP000001"));
    EXPECT_NE(std::string::npos, r.err.find("KP000002 at 0x12: the meter answered NAK to block 5 of 548")) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("KP000003 at 0x13: loaded 70085 bytes in 548 blocks")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("station: 2 loads, 1 failed")) << r.out;
}

TEST_F(Station, DryRunStationChecksEachMeterAndSendsNoDatabase)
{
    config(meter("KP000001"));
    Ran r = kplx({"load", "--watch", "--count", "1", "--dry-run", "--json", packed});
    EXPECT_EQ(0, r.code) << r.err;
    json doc = json::parse(r.out);
    ASSERT_EQ(1u, doc["meters"].size());
    EXPECT_EQ("would-load", doc["meters"][0]["result"]);
    EXPECT_EQ(0u, databaseFrames("KP000001"));
}

TEST_F(Station, StopDuringALoadEndsItWithExit130AndTheBridgePutBack)
{
    // Real time: the load takes seconds; Ctrl-C once it is under way.
    config("link latency-ms 16 process-ms 1\n" + meter("KP000001"));
    pid_t pid = start({"load", "--watch", packed});
    for (int i = 0; i < 3000 && frameLog(dir / "KP000001.frames").size() < 20; ++i) {
        // The frame log is written at close: wait for the load through its progress lines instead.
        if (readText(dir / "run.out").find("KP000001 at 0x11:  10%") != std::string::npos)
            break;
        usleep(10000);
    }
    kill(pid, SIGINT);
    Ran r = finish(pid);
    EXPECT_EQ(130, r.code) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("KP000001 at 0x11: interrupted at block")) << r.err;
    EXPECT_EQ("2 16", latencySets(dir / "KP000001.calls"));
}

TEST_F(Station, IdleStationStoppedEndsWithTheLoadsItDid)
{
    config(meter("KP000001"));
    pid_t pid = start({"load", "--watch", packed});
    for (int i = 0; i < 3000 && readText(dir / "run.out").find("KP000001 at 0x11: loaded") == std::string::npos; ++i)
        usleep(10000);
    kill(pid, SIGTERM);
    Ran r = finish(pid);
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("station: 1 load, 0 failed")) << r.out;
}

}  // namespace
