// The configuration file and the output files the end-to-end tests read.
#include "sim_support.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include <stdlib.h>
#include <unistd.h>

using simtest::Bytes;
using simtest::frame;

namespace {

// ctest runs each test in a process of its own, side by side: each gets a folder of its own.
class Config : public simtest::SimTest {
protected:
    std::string dir;

    void SetUp() override {
        simtest::SimTest::SetUp();
        std::string pattern = ::testing::TempDir() + "kplx-sim-config-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(&pattern[0]));
        dir = pattern + "/";
    }
    void TearDown() override {
        for (const char *f : {"sim_config.txt", "sim_db.bin", "sim_frames.txt"})
            std::remove((dir + f).c_str());
        rmdir(dir.c_str());
        simtest::SimTest::TearDown();
    }

    bool load(const std::string &text) {
        std::ofstream(dir + "sim_config.txt") << text;
        return sim::loadConfig(dir + "sim_config.txt");
    }
    static std::string slurp(const std::string &path) {
        std::ostringstream s;
        s << std::ifstream(path, std::ios::binary).rdbuf();
        return s.str();
    }
};

TEST_F(Config, DirectivesReachTheDevices) {
    sim::reset();
    ASSERT_TRUE(load("# two meters and a cable\ntime-scale 0.5\nlink latency-ms 2 process-ms 3\n"
                     "device meter\nversion KPLX Meter V3.00   # comment\nvendor-id 0x0403\ncbus4 7\n"
                     "raw-at 5 15 0602\npieces 3 10\n"
                     "device cable\n  open-fail\nunplug-at 2\n\ndevice meter\nserial ABC\n"
                     "eeprom-fail-from-open 0x2\n"));
    ASSERT_EQ(3, sim::deviceCount());
    const sim::DeviceConfig &a = sim::device(0);
    EXPECT_EQ("KPLX Meter V3.00", a.version);
    EXPECT_EQ(7, a.eeprom.cbus4);
    EXPECT_EQ((Bytes{0x15, 0x06, 0x02}), a.faults.rawReply);
    EXPECT_EQ((std::vector<int>{3, 10}), a.faults.replyPieces);
    EXPECT_EQ("KP000001", a.eeprom.serialNumber);
    EXPECT_EQ("FT000002", sim::device(1).eeprom.serialNumber);
    EXPECT_TRUE(sim::device(1).faults.openFails);
    EXPECT_EQ(2, sim::device(1).faults.unplugAtFrame);
    EXPECT_EQ("ABC", sim::device(2).eeprom.serialNumber);
    EXPECT_EQ(-1, a.faults.eepromFailFromOpen);
    EXPECT_EQ(2, sim::device(2).faults.eepromFailFromOpen);
    EXPECT_FALSE(sim::device(2).faults.eepromReadFails);
}

TEST_F(Config, ErrorsNameTheLineAndChangeNothing) {
    sim::reset();
    sim::useDefaultConfig();
    for (const char *text : {"device meter\nwobble 1\n", "description X\n", "device meter\nraw-at 1 0G\n",
                             "device meter\nnak-at -1\n", "time-scale 0\n", "link latency-ms\n",
                             "device meter\neeprom-fail-from-open\n", "device meter\neeprom-fail-from-open -1\n",
                             "device meter\neeprom-fail-from-open 1 2\n"}) {
        EXPECT_FALSE(load(text)) << text;
        EXPECT_EQ(1, sim::deviceCount());
    }
    EXPECT_FALSE(load("device meter\n\n  cbus4 x\n"));
    EXPECT_EQ("line 3: cbus4 needs a number up to 255", sim::configError());
    EXPECT_FALSE(sim::loadConfig(dir + "sim_no_such_file.txt"));
}

TEST_F(Config, OutputsAreWrittenWhenTheDeviceCloses) {
    sim::DeviceConfig c = sim::defaultConfig(sim::Role::meter);
    c.databaseOut = dir + "sim_db.bin";
    c.framesOut = dir + "sim_frames.txt";
    std::remove(c.databaseOut.c_str());
    start({c});
    Bytes bad = frame("zz");
    bad.back() ^= 0xFF;
    for (const Bytes &f : {frame("DATABASE"), frame("ab"), bad, frame("END")}) send(f);
    EXPECT_EQ("", slurp(c.databaseOut));
    ASSERT_EQ(FT_OK, close(handle));
    EXPECT_EQ("ab", slurp(c.databaseOut));
    EXPECT_EQ("0.000 1 02084441544142415345C2 0.000 0.000 06\n"
              "0.000 1 020261623A 0.000 0.000 06\n"
              "0.000 0 02027A7AF6 0.000 0.000 15\n"
              "0.000 1 0203454E4425 0.000 0.000 06020753554343455353DF\n",
              slurp(c.framesOut));
}

}  // namespace
