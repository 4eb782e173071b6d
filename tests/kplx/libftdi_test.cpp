// kplx through the real stack on Linux: kplx, libftdi1, libusb, and FT232R bridges emulated at
// the kernel's USB interface, with the simulated meters behind them.
#include "libftdi_fixture.h"

#include <sys/stat.h>

#include <csignal>

using namespace kplxtest;

namespace {

TEST_F(Libftdi, LoadsTheSampleWithTheSameFramesAsTheSimulatorBackend)
{
    config(meter("KP000001"));
    Ran r = kplx({"load", packed});
    ASSERT_EQ(0, r.code) << r.err;
    std::vector<std::string> throughUsb = frameLog(dir / "KP000001.frames");
    EXPECT_EQ(keptSample(), readFile(dir / "KP000001.db"));
    // Given back to ftdi_sio, so that it is a serial port again.
    EXPECT_EQ("claims=1 releases=1 driver=ftdi_sio plugged=yes", usbState("KP000001"));

    backend = "sim";
    via.clear();
    r = kplx({"load", packed});
    ASSERT_EQ(0, r.code) << r.err;
    ASSERT_EQ(550u, throughUsb.size());
    EXPECT_EQ(frameLog(dir / "KP000001.frames"), throughUsb);
}

TEST_F(Libftdi, ListShowsTwoMetersAndACable)
{
    config("device meter\nversion KPLX Meter V2.10\ndevice cable\ndevice meter\nversion V3.00\n");
    Ran r = kplx({"list"});
    ASSERT_EQ(0, r.code) << r.err;
    EXPECT_EQ("index  location  serial    description      meter  version\n"
              "0      1-1       KP000001  Quorvel KPLX     yes    KPLX Meter V2.10\n"
              "1      1-2       FT000002  FT232R USB UART  no     -\n"
              "2      1-3       KP000003  Quorvel KPLX     yes    V3.00\n",
              r.out);
}

TEST_F(Libftdi, AllLoadsBothMeters)
{
    config(meter("KP000001") + meter("KP000002"));
    Ran r = kplx({"load", "--all", packed});
    ASSERT_EQ(0, r.code) << r.err;
    EXPECT_EQ(keptSample(), readFile(dir / "KP000001.db"));
    EXPECT_EQ(keptSample(), readFile(dir / "KP000002.db"));
    EXPECT_EQ(frameLog(dir / "KP000001.frames"), frameLog(dir / "KP000002.frames"));
}

struct Refusal {
    const char *what;
    const char *config;
    int code;
    const char *says;
};

TEST_F(Libftdi, FaultsEndWithTheirExitCodes)
{
    const Refusal cases[] = {
        {"a cable", "device cable\n", 3, "FT000001: not a meter (EEPROM: description \"FT232R USB UART\""},
        {"EEPROM unreadable", "device meter\neeprom-fail\n", 3, "KP000001: not a meter: its EEPROM cannot be read"},
        {"EEPROM checksum wrong", "device meter\neeprom-bad-checksum\n", 3, "its EEPROM has a bad checksum"},
        {"another program has it", "device meter\nopen-fail\n", 4, "busy: another program has it open"},
        {"NAK", "device meter\nnak-at 42\n", 5, "the meter answered NAK to block 42 of 548"},
        {"unplugged", "device meter\nunplug-at 100\n", 7, "the meter was unplugged at block 100 of 548"},
    };
    for (const Refusal &c : cases) {
        config(c.config);
        std::vector<std::string> args{"load", packed};
        if (std::string(c.config).find("cable") != std::string::npos)
            args = {"load", "-s", "FT000001", packed};
        Ran r = kplx(args);
        EXPECT_EQ(c.code, r.code) << c.what << "\n" << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.says)) << c.what << ": " << r.err;
    }
    // The unplugged meter has left the bus.
    EXPECT_NE(std::string::npos, usb("KP000001").find("plugged=no"));
}

TEST_F(Libftdi, MeterThatAnotherProgramIsLoadingIsBusy)
{
    // The first load holds the port for seconds (the bridge's own 16 ms a reply); the second,
    // started once the first is under way, finds the interface claimed. A script's background
    // job starts with Ctrl-C ignored, and kplx leaves it so: SIGTERM ends the first load.
    config("link latency-ms 16 process-ms 1\n" + meter("KP000001"));
    const std::string kplx = "'" + program + "'", first = "'" + (dir / "first.out").string() + "'";
    program = "/bin/bash";
    Ran r = this->kplx({"-c", kplx + " load --latency 16 '" + packed + "' >" + first + " 2>&1 & pid=$!; " +
                                  "until grep -q '10%' " + first + "; do sleep 0.05; done; " + kplx + " load '" + packed +
                                  "'; rc=$?; kill -TERM $pid; wait $pid; exit $rc"});
    EXPECT_EQ(4, r.code) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("the device is busy: another program has it open")) << r.err;
}

// --- Ended early: the bridge put back and given back to ftdi_sio -------------------------------

class LibftdiSignals : public Libftdi {
protected:
    // Runs `script` in bash under the emulator, with $kplx the program, $file the packed
    // sample, $out the file kplx's output goes to, and `waitfor TEXT` waiting until $out has
    // it (or kplx has gone).
    Ran script(const std::string &body)
    {
        const std::string kplx = program;
        program = "/bin/bash";
        Ran r = this->kplx({"-c", "kplx='" + kplx + "'; file='" + packed + "'; out='" + (dir / "load.out").string() + "'; " +
                                      "waitfor() { until grep -q \"$1\" \"$out\" || ! kill -0 $pid 2>/dev/null; "
                                      "do sleep 0.05; done; }; " + body});
        program = kplx;
        return r;
    }

    void expectBridgeBack()
    {
        EXPECT_EQ("claims=1 releases=1 driver=ftdi_sio plugged=yes", usbState("KP000001"));
        EXPECT_EQ("2 16", latencySets(dir / "KP000001.calls"));
    }
};

TEST_F(LibftdiSignals, HangupMidLoadRestoresTheBridgeAndGivesItBackToFtdiSio)
{
    config("link latency-ms 16 process-ms 1\n" + meter("KP000001"));
    Ran r = script("\"$kplx\" load \"$file\" >\"$out\" 2>&1 & pid=$!; waitfor 'KP000001:  10%'; "
                   "kill -HUP $pid; wait $pid");
    const std::string output = readText(dir / "load.out");
    EXPECT_EQ(130, r.code) << output;
    EXPECT_NE(std::string::npos, output.find("kplx: stopping on SIGHUP")) << output;
    EXPECT_NE(std::string::npos, output.find("KP000001: interrupted at block ")) << output;
    expectBridgeBack();
}

TEST_F(LibftdiSignals, ReaderOfTheOutputGoneLoadGoesOnAndExitsWithItsOwnCode)
{
    config("link latency-ms 16 process-ms 1\n" + meter("KP000001"));
    const fs::path database = dir / "hundred.db";
    writeFile(database, pattern(99 * 128 + 100, 5));   // a hundred blocks
    // grep leaves at the first 10 % line, as tee does when Ctrl-C ends it.
    Ran r = script("\"$kplx\" load --raw '" + database.string() + "' | grep -q -m1 '10%'; exit ${PIPESTATUS[0]}");
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_EQ(102u, frameLog(dir / "KP000001.frames").size());   // DATABASE, every block, END
    expectBridgeBack();
}

TEST_F(LibftdiSignals, SecondCtrlCGivesUpASilentMetersWait)
{
    config(meter("KP000001", "silent-from 3\n"));
    const fs::path small = dir / "small.db";
    writeFile(small, pattern(9 * 128 + 118, 3));   // ten blocks
    // Job control, so that the background kplx gets Ctrl-C as a foreground one would.
    Ran r = script("set -m; \"$kplx\" load --raw '" + small.string() + "' >\"$out\" 2>&1 & pid=$!; " +
                   "waitfor 'KP000001:  20%'; sleep 0.2; kill -INT $pid; waitfor 'kplx: stopping:'; kill -INT $pid; "
                   "wait $pid");
    const std::string output = readText(dir / "load.out");
    EXPECT_EQ(130, r.code) << output;
    EXPECT_NE(std::string::npos, output.find("KP000001: interrupted: gave up waiting for the reply to block 3 of 10"))
        << output;
    expectBridgeBack();
}

TEST_F(Libftdi, SilentMeterFailsAfterTwoReadTimeouts)
{
    config("device meter\nsilent-from 3\n");
    Ran r = kplx({"load", packed});
    EXPECT_EQ(5, r.code);
    EXPECT_NE(std::string::npos, r.err.find("stopped answering at block 3 of 548")) << r.err;
}

TEST_F(Libftdi, NoPermissionOnTheNodeSaysWhichAndWhatFixesIt)
{
    // The program may run as another user: everything it needs is where that user can read it.
    chmod(dir.c_str(), 0755);
    fs::copy_file(program, dir / "kplx");
    program = (dir / "kplx").string();
    chmod(packed.c_str(), 0644);
    via = {KPLX_EMULATOR, "--no-access", "--"};
    config("device meter\n");
    Ran r = kplx({"load", packed});
    EXPECT_EQ(4, r.code) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("no permission on /dev/bus/usb/001/002")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("udev rule")) << r.err;
    // Both ways in: the seat for a person, the group for a service account without one.
    EXPECT_NE(std::string::npos, r.err.find("(uaccess)")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("plugdev group")) << r.err;
}

// Selection reads each candidate's EEPROM before it claims anything: a stop while it does
// opens no further candidate and sends no meter DATABASE.
TEST_F(Libftdi, StopWhileChoosingMetersSendsNothing)
{
    config(meter("KP000001", "port 1-1\neeprom-delay-ms 3000\n") + meter("KP000002", "port 1-2\n"));
    pid_t pid = start({"load", "--all", "--json", packed});
    usleep(1000 * 1000);   // within the first meter's three seconds of EEPROM
    kill(pid, SIGINT);     // the emulator passes it on to kplx
    Ran r = finish(pid);
    EXPECT_EQ(130, r.code) << r.err;
    EXPECT_TRUE(frameLog(dir / "KP000001.frames").empty());
    EXPECT_TRUE(frameLog(dir / "KP000002.frames").empty());
    EXPECT_EQ("0", usb("KP000002", "controls"));   // never opened
    EXPECT_EQ("0", usb("KP000001", "claims"));     // read, not claimed
    EXPECT_EQ("ftdi_sio", usb("KP000001", "driver"));
    EXPECT_NE(std::string::npos, r.out.find("\"result\": \"interrupted\"")) << r.out << r.err;
}

}  // namespace
