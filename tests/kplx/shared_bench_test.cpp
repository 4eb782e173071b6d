// kplx on a bench it shares, through libftdi1 on emulated FT232R bridges: other instruments
// are never touched, a port another program holds is refused, every candidate is accounted
// for, no EEPROM crashes it, an unplug is an unplug and device strings cannot forge output.
#include "libftdi_fixture.h"

#include <nlohmann/json.hpp>

#include <sstream>

using namespace kplxtest;
using nlohmann::json;

namespace {

class SharedBench : public Libftdi {
protected:
    // Runs a shell script under the emulator; $KPLX is kplx, $DIR the test's folder.
    Ran script(const std::string &text)
    {
        const std::string kplxPath = program;
        program = "/bin/bash";
        Ran r = kplx({"-c", "KPLX='" + kplxPath + "'; DIR='" + dir.string() + "'; " + text});
        program = kplxPath;
        return r;
    }

    // Holds /dev/<tty> open from another process until the script ends; its pid in $HOLDER.
    static std::string holding(const std::string &tty)
    {
        return "sleep 60 </dev/" + tty + " & HOLDER=$!; echo $HOLDER >\"$DIR/holder.pid\"; "
               "until [ \"$(cat /proc/$HOLDER/comm)\" = sleep ]; do sleep 0.01; done; ";
    }

    // Every line of the emulator's report for this serial number (two devices may share one).
    std::vector<std::string> usbLines(const std::string &serial) const
    {
        std::vector<std::string> lines;
        std::istringstream in(readText(dir / "usb.txt"));
        for (std::string line; std::getline(in, line);)
            if (line.compare(0, serial.size() + 1, serial + " ") == 0)
                lines.push_back(line);
        return lines;
    }
};

constexpr char kUntouched[] = "claims=0 releases=0 controls=0 others=0 driver=ftdi_sio plugged=yes plug-ins=1";

// --- Touch nothing that is not a meter ---------------------------------------------------

TEST_F(SharedBench, AnotherInstrumentsBridgeIsNeverOpenedByListOrLoadAll)
{
    // The instrument's port is in use throughout, as a terminal program would hold it.
    config(meter("KP000001") + "device cable\nserial FT000002\n");
    Ran r = script(holding("ttyUSB1") + "\"$KPLX\" list >\"$DIR/list.out\"; echo list=$? >\"$DIR/codes\"; "
                                          "\"$KPLX\" load --all '" + packed + "' >\"$DIR/load.out\"; "
                                          "echo load=$? >>\"$DIR/codes\"; kill $HOLDER");
    EXPECT_EQ("list=0\nload=0\n", readText(dir / "codes")) << r.err;
    EXPECT_NE(std::string::npos, readText(dir / "list.out").find("FT000002  FT232R USB UART  no")) << r.out;
    EXPECT_EQ(keptSample(), readFile(dir / "KP000001.db"));
    // Not an ioctl on its node: never opened, claimed, reset or detached from ftdi_sio.
    EXPECT_EQ(std::string("FT000002 ") + kUntouched, usb("FT000002"));
    EXPECT_EQ("claims=2 releases=2 driver=ftdi_sio plugged=yes", usbState("KP000001"));
}

TEST_F(SharedBench, MeterWhosePortAnotherProgramHoldsIsRefusedNamingIt)
{
    config(meter("KP000001"));
    Ran r = script(holding("ttyUSB0") + "\"$KPLX\" load --json '" + packed + "'; rc=$?; kill $HOLDER; exit $rc");
    EXPECT_EQ(4, r.code) << r.err;
    const std::string pid = readText(dir / "holder.pid");
    const std::string says = "KP000001: the port cannot be opened: its serial port /dev/ttyUSB0 is open in another "
                             "program: sleep (pid " + pid.substr(0, pid.find('\n')) + ")";
    EXPECT_NE(std::string::npos, r.err.find(says)) << r.err;
    json doc = json::parse(r.out);
    ASSERT_EQ(1u, doc["meters"].size());
    EXPECT_EQ("port-error", doc["meters"][0]["result"]);
    // Never taken over: ftdi_sio still has it, nothing was sent.
    EXPECT_EQ("claims=0 releases=0 driver=ftdi_sio plugged=yes", usbState("KP000001"));
    EXPECT_TRUE(frameLog(dir / "KP000001.frames").empty());
}

// --- Every device accounted for ----------------------------------------------------------

TEST_F(SharedBench, TwoBridgesWithOneSerialAreBothReportedAndNeitherLoaded)
{
    config("device meter\nserial KP000001\nport 1-4.1\ndevice meter\nserial KP000001\nport 1-4.2\n" +
           meter("KP000003"));
    Ran all = kplx({"load", "--all", "--json", packed});
    EXPECT_EQ(8, all.code) << all.err;
    json doc = json::parse(all.out);
    ASSERT_EQ(3u, doc["meters"].size()) << all.out;
    int shared = 0;
    for (const json &m : doc["meters"]) {
        if (m["serial"] != "KP000001")
            continue;
        ++shared;
        EXPECT_EQ("port-error", m["result"]);
        EXPECT_EQ("serial number KP000001 is shared by 2 devices (1-4.1, 1-4.2): neither is loaded by serial number",
                  m["message"]);
    }
    EXPECT_EQ(2, shared);
    EXPECT_EQ(keptSample(), readFile(dir / "KP000003.db"));
    for (const std::string &line : usbLines("KP000001"))
        EXPECT_EQ(std::string("KP000001 ") + kUntouched, line);

    Ran named = kplx({"load", "-s", "KP000001", packed});
    EXPECT_NE(0, named.code);
    EXPECT_NE(std::string::npos, named.err.find("neither is loaded by serial number")) << named.err;
    EXPECT_EQ(2u, usbLines("KP000001").size());
    for (const std::string &line : usbLines("KP000001"))
        EXPECT_EQ(std::string("KP000001 ") + kUntouched, line);
}

// --- No crash on any EEPROM --------------------------------------------------------------

struct EmptyString {
    const char *what;
    const char *config;
    int code;
    const char *says;   // on stderr; "" for none
};

TEST_F(SharedBench, EepromStringTooShortForADescriptorIsAnEmptyStringNotACrash)
{
    const EmptyString cases[] = {
        {"description length 0", "eeprom-string-length description 0\n", 3, "not a meter (EEPROM: description \"\")"},
        {"description length 1", "eeprom-string-length description 1\n", 3, "not a meter (EEPROM: description \"\")"},
        {"manufacturer length 0", "eeprom-string-length manufacturer 0\n", 0, ""},
        {"manufacturer length 1", "eeprom-string-length manufacturer 1\n", 0, ""},
    };
    for (const EmptyString &c : cases) {
        config(meter("KP000001", c.config));
        Ran r = kplx({"load", "-s", "KP000001", packed});
        EXPECT_EQ(c.code, r.code) << c.what << "\n" << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.says)) << c.what << ": " << r.err;
        EXPECT_EQ("driver=ftdi_sio", "driver=" + usb("KP000001", "driver")) << c.what;
    }
}

TEST_F(SharedBench, MeterWithoutASerialNumberIsListedAndChecked)
{
    config("device meter\neeprom-string-length serial 0\n");
    Ran r = kplx({"list", "--json"});
    ASSERT_EQ(0, r.code) << r.err;
    json list = json::parse(r.out);
    ASSERT_EQ(1u, list.size());
    EXPECT_TRUE(list[0]["serial"].is_null());
    EXPECT_EQ(true, list[0]["meter"]);
}

// --- Unplug is unplug ----------------------------------------------------------------------

TEST_F(SharedBench, UnplugThatSurfacesAsAnIoOrPipeErrorIsUnplugged)
{
    for (const char *error : {"EPROTO", "EPIPE"}) {
        config(meter("KP000001", std::string("unplug-at 100\nunplug-error ") + error + "\n"));
        Ran r = kplx({"load", packed});
        EXPECT_EQ(7, r.code) << error << "\n" << r.err;
        EXPECT_NE(std::string::npos, r.err.find("the meter was unplugged at block 100 of 548")) << error << ": " << r.err;
        EXPECT_EQ("no", usb("KP000001", "plugged")) << error;
    }
}

// --- Device strings cannot forge output ----------------------------------------------------

TEST_F(SharedBench, ControlCharactersInADescriptionAreEscapedInTableErrorsAndJson)
{
    // An ESC sequence that clears the screen and a CR that would overwrite the line.
    config("device meter\ndescription Quorvel KPLX\\x1B[2J\\x0D\nserial KP\\x0D01\n");
    const std::string description = "Quorvel KPLX\\x1B[2J\\x0D", serial = "KP\\x0D01";

    Ran table = kplx({"list"});
    EXPECT_EQ(0, table.code) << table.err;
    EXPECT_NE(std::string::npos, table.out.find(serial + "  " + description + "  no")) << table.out;

    Ran listed = kplx({"list", "--json"});
    json list = json::parse(listed.out);
    EXPECT_EQ(serial, list[0]["serial"]);
    EXPECT_EQ(description, list[0]["description"]);

    // The serial as the JSON shows it names the device; its refusal is escaped too.
    Ran load = kplx({"load", "--json", "-s", list[0]["serial"].get<std::string>(), packed});
    EXPECT_EQ(3, load.code) << load.err;
    EXPECT_NE(std::string::npos, load.err.find(serial + ": not a meter (EEPROM: description \"" + description + "\""))
        << load.err;
    json doc = json::parse(load.out);
    EXPECT_EQ(serial, doc["meters"][0]["serial"]);
    for (const Ran *r : {&table, &listed, &load})
        EXPECT_EQ(std::string::npos, (r->out + r->err).find_first_of("\x1B\r"));
}

}  // namespace
