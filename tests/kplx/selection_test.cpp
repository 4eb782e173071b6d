// Which devices kplx opens and how it accounts for each, through the D2XX face (the simulator
// backend): listing opens nothing, every candidate that is not loaded is a failed meter in
// the summary, on stderr and in the JSON, serial numbers shared by two devices load neither,
// a guess is never made, and -s takes exactly what the JSON shows.
#include "load_fixture.h"

#include <nlohmann/json.hpp>

using namespace kplxtest;
using nlohmann::json;

namespace {

class Selection : public Load {
protected:
    bool received(const std::string &serial) const { return !readFile(dir / (serial + ".frames")).empty(); }

    static const json *meterIn(const json &doc, const std::string &serial)
    {
        for (const json &m : doc["meters"])
            if (m["serial"] == serial)
                return &m;
        return nullptr;
    }
};

const char kUnreadable[] = "device meter\nserial KP000002\neeprom-fail\n";
const char kHeldElsewhere[] = "device meter\nserial KP000002\nopen-fail\n";

// --- Listing opens nothing that is not a meter ----------------------------------------------

TEST_F(Selection, CableIsListedFromItsDescriptorsAndNeverOpened)
{
    // Opening the cable would fail (open-fail), so any attempt would show.
    config(meter("KP000001") + "device cable\nserial FT000002\nopen-fail\n");
    Ran list = kplx({"list"});
    // Through the device information list a bridge another program holds tells nothing of
    // itself (FTDI's D2XX guide): kplx cannot say it is not a meter, and says so.
    EXPECT_EQ(4, list.code) << list.err;
    EXPECT_NE(std::string::npos, list.err.find("another program has it open")) << list.err;
    EXPECT_NE(std::string::npos, list.out.find("0      0x11      KP000001  Quorvel KPLX  yes")) << list.out;

    // A cable it can see is passed over on its description alone.
    config(meter("KP000001") + "device cable\nserial FT000002\n");
    list = kplx({"list"});
    EXPECT_EQ(0, list.code) << list.err;
    EXPECT_NE(std::string::npos, list.out.find("1      0x12      FT000002  FT232R USB UART  no     -")) << list.out;
    Ran load = kplx({"load", "--all", packed});
    EXPECT_EQ(0, load.code) << load.err;
    EXPECT_EQ("", load.err);
}

TEST_F(Selection, ListExitsNonZeroWhenACandidateCannotBeChecked)
{
    struct Case { const char *config; int code; const char *says; } cases[] = {
        {kUnreadable, 3, "KP000002: not a meter: its EEPROM cannot be read"},
        {kHeldElsewhere, 4, "device 1: cannot tell whether it is a meter: another program has it open"},
    };
    for (const Case &c : cases) {
        config(meter("KP000001") + c.config);
        Ran table = kplx({"list"});
        EXPECT_EQ(c.code, table.code) << c.config;
        EXPECT_NE(std::string::npos, table.err.find(c.says)) << table.err;
        EXPECT_NE(std::string::npos, table.out.find("?      -\n")) << table.out;
        json list = json::parse(kplx({"list", "--json"}).out);
        EXPECT_EQ(true, list[0]["meter"]);
        EXPECT_TRUE(list[1]["meter"].is_null()) << c.config;
    }
}

// --- Every candidate accounted for ------------------------------------------------------------

TEST_F(Selection, OneMeterBesideACandidateThatCannotBeCheckedIsNotAGuess)
{
    for (const char *other : {kUnreadable, kHeldElsewhere}) {
        config(meter("KP000001") + other);
        Ran r = kplx({"load", packed});
        EXPECT_EQ(1, r.code) << other << r.err;
        EXPECT_NE(std::string::npos, r.err.find("cannot tell which meter to load: KP000001 is a meter, and "))
            << r.err;
        EXPECT_FALSE(received("KP000001"));
    }
}

TEST_F(Selection, AllLoadsTheMeterAndReportsTheOneItCouldNotCheckWhateverHidesOutput)
{
    config(meter("KP000001") + kUnreadable);
    Ran js = kplx({"load", "--all", "--json", packed});
    EXPECT_EQ(8, js.code) << js.err;
    json doc = json::parse(js.out);
    ASSERT_EQ(2u, doc["meters"].size()) << js.out;
    ASSERT_NE(nullptr, meterIn(doc, "KP000002"));
    EXPECT_EQ("not-a-meter", (*meterIn(doc, "KP000002"))["result"]);
    EXPECT_EQ("ok", (*meterIn(doc, "KP000001"))["result"]);

    Ran quiet = kplx({"load", "--all", "-q", packed});
    EXPECT_EQ(8, quiet.code);
    EXPECT_EQ("", quiet.out);
    EXPECT_NE(std::string::npos, quiet.err.find("kplx: KP000002: not a meter: its EEPROM cannot be read")) << quiet.err;
    EXPECT_EQ(keptSample(), readFile(dir / "KP000001.db"));
}

TEST_F(Selection, LoneCandidateThatCannotBeCheckedIsAFailedMeterInTheJson)
{
    config("device meter\neeprom-fail\n");
    Ran r = kplx({"load", "--json", packed});
    EXPECT_EQ(3, r.code) << r.err;
    json doc = json::parse(r.out);
    ASSERT_EQ(1u, doc["meters"].size());
    EXPECT_EQ("KP000001", doc["meters"][0]["serial"]);
    EXPECT_EQ("not-a-meter", doc["meters"][0]["result"]);
    EXPECT_FALSE(doc.contains("error"));
}

TEST_F(Selection, NamedMeterThatAnotherProgramHoldsCannotBeFoundByItsSerial)
{
    config(meter("KP000001") + kHeldElsewhere);
    // Its serial number is unknown while another program holds it: it may be the one named.
    Ran r = kplx({"load", "--json", "-s", "KP000001", "-s", "KP000002", packed});
    EXPECT_EQ(4, r.code) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("no device with serial number KP000002 was found, and some could not be asked"))
        << r.err;
    EXPECT_FALSE(received("KP000001"));
}

TEST_F(Selection, CandidateWhoseEepromIsNotAMetersFailsBesideTheMeterItLoads)
{
    config("device meter\ninvert-dtr 0\n" + meter("KP000002"));
    Ran r = kplx({"load", packed});
    EXPECT_EQ(8, r.code) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("KP000001: not a meter (EEPROM: DTR not inverted)")) << r.err;
    EXPECT_EQ(keptSample(), readFile(dir / "KP000002.db"));
}

TEST_F(Selection, EepromStringTooShortForADescriptorIsAnEmptyDescriptionHereToo)
{
    // The same scenario as through libftdi: the D2XX library shows the empty string too.
    config(meter("KP000001", "eeprom-string-length description 1\n"));
    Ran lone = kplx({"load", packed});
    EXPECT_EQ(3, lone.code);
    EXPECT_NE(std::string::npos, lone.err.find("no meter attached (KP000001: not a meter (description \"\"))")) << lone.err;
    Ran named = kplx({"load", "-s", "KP000001", packed});
    EXPECT_EQ(3, named.code);
    EXPECT_NE(std::string::npos, named.err.find("KP000001: not a meter (EEPROM: description \"\")")) << named.err;
}

// --- Two devices, one serial number ------------------------------------------------------------

TEST_F(Selection, SharedSerialNumberLoadsNeitherDevice)
{
    const std::string twins = "device meter\nserial KP000001\nframes-out " + (dir / "a.frames").string() +
                              "\ndevice meter\nserial KP000001\nframes-out " + (dir / "b.frames").string() + "\n";
    config(twins + meter("KP000003"));
    const std::string says = "serial number KP000001 is shared by 2 devices (0x11, 0x12): neither is loaded by serial number";

    Ran all = kplx({"load", "--all", "--json", packed});
    EXPECT_EQ(8, all.code) << all.err;
    json doc = json::parse(all.out);
    ASSERT_EQ(3u, doc["meters"].size());
    int shared = 0;
    for (const json &m : doc["meters"])
        shared += m["serial"] == "KP000001" && m["message"] == says && m["result"] == "port-error";
    EXPECT_EQ(2, shared) << all.out;
    EXPECT_EQ(keptSample(), readFile(dir / "KP000003.db"));

    Ran named = kplx({"load", "-s", "KP000001", packed});
    EXPECT_EQ(8, named.code);
    EXPECT_NE(std::string::npos, named.err.find(says)) << named.err;

    Ran lone = kplx({"load", packed});
    EXPECT_EQ(1, lone.code) << lone.err;
    EXPECT_TRUE(frameLog(dir / "a.frames").empty() && frameLog(dir / "b.frames").empty());
}

// --- -s takes the shown form, exactly ------------------------------------------------------------

TEST_F(Selection, SerialWithATrailingCarriageReturnIsEchoedEscapedAndMatchesNothing)
{
    config(meter("KP000001"));
    Ran r = kplx({"load", "-s", "KP000001\r", packed});
    EXPECT_EQ(3, r.code);
    EXPECT_NE(std::string::npos, r.err.find("no device with serial number KP000001\\x0D is attached (attached: KP000001 at 0x11)"))
        << r.err;
    EXPECT_FALSE(received("KP000001"));
}

TEST_F(Selection, SerialThatIsNotUtf8RoundTripsFromTheJsonToDashS)
{
    config("device meter\nserial KP\\xFF\\x1B01\ndatabase-out " + (dir / "odd.db").string() + "\n");
    json list = json::parse(kplx({"list", "--json"}).out);
    const std::string shown = list[0]["serial"];
    EXPECT_EQ("KP\\xFF\\x1B01", shown);
    Ran r = kplx({"load", "--json", "-s", shown, packed});
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_EQ(shown, json::parse(r.out)["meters"][0]["serial"]);
    EXPECT_EQ(keptSample(), readFile(dir / "odd.db"));
    // A backslash typed as such is itself, so the shown form cannot name another device.
    EXPECT_EQ(3, kplx({"load", "-s", "KP\\xFF\\x1B0", packed}).code);
}

}  // namespace
