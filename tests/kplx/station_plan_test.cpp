// The station's rules on their own, fed listings as the device watch would give them: what is
// loaded, once per plug-in; what is reported, once; what is left alone.
#include "kplx/station_plan.h"

#include <gtest/gtest.h>

using kplx::SelectionRequest;
using kplx::StationPlan;
using kplx::link::DeviceInfo;

namespace {

DeviceInfo meter(const std::string &serial, const std::string &location, int address)
{
    DeviceInfo d;
    d.serial = serial;
    d.description = "Quorvel KPLX";
    d.location = location;
    d.bus = 1;
    d.address = address;
    return d;
}

DeviceInfo cable(const std::string &serial, const std::string &location, int address)
{
    DeviceInfo d = meter(serial, location, address);
    d.description = "FT232R USB UART";
    return d;
}

std::vector<std::string> serials(const std::vector<DeviceInfo> &devices)
{
    std::vector<std::string> out;
    for (const DeviceInfo &d : devices)
        out.push_back(d.serial);
    return out;
}

// A new device is looked at when a second listing shows it alike: the listing twice.
StationPlan::Changes settled(StationPlan &plan, const std::vector<DeviceInfo> &listing)
{
    StationPlan::Changes first = plan.update(listing);
    EXPECT_TRUE(first.settling);
    EXPECT_TRUE(first.load.empty() && first.notMeters.empty() && first.notNamed.empty());
    StationPlan::Changes second = plan.update(listing);
    EXPECT_FALSE(second.settling);
    EXPECT_TRUE(second.left.empty());
    return second;
}

TEST(StationPlan, EachPlugInIsLoadedOnceAndAgainOnlyAfterAReplug)
{
    StationPlan plan{SelectionRequest{}};
    EXPECT_EQ(std::vector<std::string>{"KP1"}, serials(settled(plan, {meter("KP1", "1-1", 5)}).load));
    EXPECT_TRUE(plan.update({meter("KP1", "1-1", 5)}).load.empty());   // left plugged in after its load
    StationPlan::Changes out = plan.update({});
    EXPECT_EQ(std::vector<std::string>{"KP1"}, serials(out.left));
    EXPECT_EQ(std::vector<std::string>{"KP1"}, serials(settled(plan, {meter("KP1", "1-1", 6)}).load));
}

TEST(StationPlan, ReplugBetweenTwoLooksIsANewPlugInWhereTheKernelGivesANewAddress)
{
    StationPlan plan{SelectionRequest{}};
    settled(plan, {meter("KP1", "1-1", 5)});
    StationPlan::Changes out = plan.update({meter("KP1", "1-1", 7)});
    EXPECT_EQ(std::vector<std::string>{"KP1"}, serials(out.left));
    EXPECT_TRUE(out.settling);
    EXPECT_EQ(std::vector<std::string>{"KP1"}, serials(plan.update({meter("KP1", "1-1", 7)}).load));
}

TEST(StationPlan, DeviceHalfAnnouncedOrHalfGoneIsNeverLookedAt)
{
    // The kernel writes a device's attributes one by one: first its description, then its serial.
    StationPlan plan{SelectionRequest{}};
    DeviceInfo partial = meter("", "1-1", 5);
    StationPlan::Changes out = plan.update({partial});
    EXPECT_TRUE(out.settling);
    EXPECT_TRUE(out.load.empty());
    out = plan.update({meter("KP1", "1-1", 5)});   // complete now, but not yet seen alike twice
    EXPECT_TRUE(out.load.empty());
    EXPECT_TRUE(out.left.empty());   // the partial one was never taken for a plug-in
    EXPECT_EQ(std::vector<std::string>{"KP1"}, serials(plan.update({meter("KP1", "1-1", 5)}).load));

    // Pulled out: its serial goes first, then the entry. No plug-in of a serial-less meter.
    out = plan.update({partial});
    EXPECT_EQ(std::vector<std::string>{"KP1"}, serials(out.left));
    EXPECT_TRUE(out.load.empty());
    out = plan.update({});
    EXPECT_TRUE(out.load.empty() && out.left.empty());
    EXPECT_FALSE(out.settling);

    // A cable whose description is not there yet is not reported as something else.
    DeviceInfo bare = cable("FT1", "1-2", 3);
    bare.description.clear();
    EXPECT_TRUE(plan.update({bare}).notMeters.empty());
    out = plan.update({cable("FT1", "1-2", 3)});
    EXPECT_TRUE(out.notMeters.empty());
    out = plan.update({cable("FT1", "1-2", 3)});
    ASSERT_EQ(1u, out.notMeters.size());
    EXPECT_EQ("FT232R USB UART", out.notMeters[0].description);
}

TEST(StationPlan, NonMeterIsReportedOnceAndNeverLoaded)
{
    StationPlan plan{SelectionRequest{}};
    StationPlan::Changes first = settled(plan, {cable("FT1", "1-2", 3), meter("KP1", "1-1", 4)});
    EXPECT_EQ(std::vector<std::string>{"FT1"}, serials(first.notMeters));
    EXPECT_EQ(std::vector<std::string>{"KP1"}, serials(first.load));
    StationPlan::Changes second = plan.update({cable("FT1", "1-2", 3), meter("KP1", "1-1", 4)});
    EXPECT_TRUE(second.notMeters.empty());
    EXPECT_TRUE(second.load.empty());
}

TEST(StationPlan, SerialsAndPortsFilterWhatIsLoaded)
{
    SelectionRequest bySerial;
    bySerial.serials = {"KP2"};
    StationPlan plan{bySerial};
    StationPlan::Changes out = settled(plan, {meter("KP1", "1-1", 4), meter("KP2", "1-2", 5)});
    EXPECT_EQ(std::vector<std::string>{"KP2"}, serials(out.load));
    EXPECT_EQ(std::vector<std::string>{"KP1"}, serials(out.notNamed));

    // A device at a named port is taken whatever its description says: it is named.
    SelectionRequest byPort;
    byPort.ports = {"1-3"};
    StationPlan fixture{byPort};
    out = settled(fixture, {cable("FT1", "1-3", 6), meter("KP1", "1-1", 4)});
    EXPECT_EQ(std::vector<std::string>{"FT1"}, serials(out.load));
    EXPECT_EQ(std::vector<std::string>{"KP1"}, serials(out.notNamed));
}

TEST(StationPlan, AlikeDevicesWithoutAnAddressAreCountedNotMerged)
{
    // Through D2XX two cloned bridges may look the same in every field.
    StationPlan plan{SelectionRequest{}};
    DeviceInfo clone = meter("KP1", "", -1);
    EXPECT_EQ(2u, settled(plan, {clone, clone}).load.size());
    StationPlan::Changes out = plan.update({clone});
    EXPECT_EQ(1u, out.left.size());
    EXPECT_TRUE(out.load.empty());
    EXPECT_EQ(1u, settled(plan, {clone, clone}).load.size());
}

}  // namespace
