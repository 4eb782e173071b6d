// Meters chosen by the USB port they are plugged into (-p), through libftdi1 on emulated FT232R
// bridges at given ports: what is chosen, what is refused and why, and what is never touched.
#include "libftdi_fixture.h"

#include <nlohmann/json.hpp>

using namespace kplxtest;
using nlohmann::json;

namespace {

class Ports : public Libftdi {
protected:
    // Two meters sharing a serial number (cloned bridges), a cable, at ports of a hub.
    void bench()
    {
        config(meter("KP000001", "port 1-2.1\n") + "device meter\nserial KP000001\nport 1-2.2\n" +
               "device cable\nserial FT000009\nport 1-2.3\n");
    }
};

TEST_F(Ports, PortChoosesOneOfTwoMetersThatShareASerialNumber)
{
    bench();
    Ran r = kplx({"load", "--json", "-p", "1-2.1", packed});
    ASSERT_EQ(0, r.code) << r.err;
    json doc = json::parse(r.out);
    ASSERT_EQ(1u, doc["meters"].size());
    EXPECT_EQ("1-2.1", doc["meters"][0]["location"]);
    EXPECT_EQ(keptSample(), readFile(dir / "KP000001.db"));
    // The other meter and the cable were never opened.
    EXPECT_EQ("0", usb("FT000009", "controls"));
    EXPECT_EQ("0", usb("FT000009", "claims"));
}

TEST_F(Ports, PortAndSerialMustMeetInOneDevice)
{
    bench();
    Ran r = kplx({"load", "-p", "1-2.3", "-s", "KP000001", packed});
    EXPECT_EQ(3, r.code);
    EXPECT_NE(std::string::npos, r.err.find("is not at a port named with -p")) << r.err;
    EXPECT_TRUE(frameLog(dir / "KP000001.frames").empty());
}

TEST_F(Ports, PortWithACableOrNothingIsReportedAsSuch)
{
    bench();
    Ran cable = kplx({"load", "-p", "1-2.3", packed});
    EXPECT_EQ(3, cable.code);
    EXPECT_NE(std::string::npos, cable.err.find("FT000009: not a meter")) << cable.err;

    Ran empty = kplx({"load", "-p", "1-7", packed});
    EXPECT_EQ(3, empty.code);
    EXPECT_NE(std::string::npos, empty.err.find("nothing is plugged in at port 1-7 (occupied: 1-2.1, 1-2.2, 1-2.3)"))
        << empty.err;
}

TEST_F(Ports, ListShowsWhereEachDeviceIs)
{
    bench();
    Ran r = kplx({"list", "--json"});
    json list = json::parse(r.out);
    ASSERT_EQ(3u, list.size());
    EXPECT_EQ("1-2.1", list[0]["location"]);
    EXPECT_EQ("1-2.2", list[1]["location"]);
    EXPECT_EQ("1-2.3", list[2]["location"]);
}

}  // namespace
