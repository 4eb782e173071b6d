#include "fixture.h"

#include "usb/com_access.h"

namespace {

class Identity : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        installDriver();
    }

    FT_STATUS checkStatus = 0;

    // Opens device 0 with the given EEPROM and runs the check on `port`.
    void check(ComAccess &port, const sim::Eeprom &eeprom, bool eepromFails = false)
    {
        sim::reset();
        sim::DeviceConfig config;
        config.eeprom = eeprom;
        config.faults.eepromReadFails = eepromFails;
        sim::addDevice(config);
        ASSERT_EQ(0u, port.openAndConfigure(0, 115200, 8, 0, 0));
        checkStatus = port.checkMeterIdentity();
        port.closePort();
    }

    bool isMeter(const sim::Eeprom &eeprom)
    {
        ComAccess port;
        check(port, eeprom);
        return port.meterMismatch == 0;
    }
};

sim::Eeprom meter()
{
    sim::Eeprom e;
    e.description = "Quorvel KPLX";
    e.cbus4 = 5;
    e.invertDtr = 1;
    e.invertTxd = 0;
    e.invertRxd = 0;
    e.selfPowered = 0;
    e.pnp = 0;
    return e;
}

TEST_F(Identity, MeterBridgeIsAMeter)
{
    EXPECT_TRUE(isMeter(meter()));
}

TEST_F(Identity, EachDeviationAloneRejects)
{
    struct Case {
        const char *what;
        void (*change)(sim::Eeprom &);
    } cases[] = {
        {"pnp", [](sim::Eeprom &e) { e.pnp = 1; }},
        {"self powered", [](sim::Eeprom &e) { e.selfPowered = 1; }},
        {"DTR not inverted", [](sim::Eeprom &e) { e.invertDtr = 0; }},
        {"RXD inverted", [](sim::Eeprom &e) { e.invertRxd = 1; }},
        {"TXD inverted", [](sim::Eeprom &e) { e.invertTxd = 1; }},
        {"cbus4 4", [](sim::Eeprom &e) { e.cbus4 = 4; }},
        {"trailing space", [](sim::Eeprom &e) { e.description = "Quorvel KPLX "; }},
        {"lower case", [](sim::Eeprom &e) { e.description = "quorvel kplx"; }},
        {"prefix only", [](sim::Eeprom &e) { e.description = "Quorvel KPL"; }},
    };
    for (const Case &c : cases) {
        sim::Eeprom e = meter();
        c.change(e);
        EXPECT_FALSE(isMeter(e)) << c.what;
    }
}

TEST_F(Identity, ValuesOtherThanOneStillCount)
{
    sim::Eeprom e = meter();
    e.invertDtr = 2;      // any non-zero value inverts
    e.pnp = 2;            // only 1 is a deviation
    e.selfPowered = 3;
    e.invertRxd = 2;
    EXPECT_TRUE(isMeter(e));
}

TEST_F(Identity, PlainCableIsRejected)
{
    sim::reset();
    sim::DeviceConfig cable;
    cable.role = sim::Role::cable;
    cable.eeprom.description = "FT232R USB UART";
    cable.eeprom.invertDtr = 0;
    cable.eeprom.cbus4 = 1;
    sim::addDevice(cable);
    ComAccess port;
    ASSERT_EQ(0u, port.openAndConfigure(0, 115200, 8, 0, 0));
    port.checkMeterIdentity();
    EXPECT_EQ(1, port.meterMismatch);
    port.closePort();
}

TEST_F(Identity, RecordIsPreparedAndStringsLandInThePortBuffers)
{
    ComAccess port;
    sim::Eeprom e = meter();
    e.serialNumber = "KP123456";
    e.manufacturer = "Quorvel";
    check(port, e);
    EXPECT_EQ(0u, port.programData.Signature1);
    EXPECT_EQ(0xFFFFFFFFu, port.programData.Signature2);
    EXPECT_EQ(2u, port.programData.Version);
    EXPECT_EQ(port.description, port.programData.Description);
    EXPECT_STREQ("Quorvel KPLX", port.description);
    EXPECT_STREQ("KP123456", port.serialNumber);
    EXPECT_STREQ("Quorvel", port.manufacturer);
}

TEST_F(Identity, FailedReadOnNewObjectLeavesItAMeter)
{
    ComAccess port;
    sim::Eeprom cable = meter();
    cable.description = "FT232R USB UART";
    check(port, cable, true);
    EXPECT_EQ(0, port.meterMismatch);
    EXPECT_EQ(static_cast<FT_STATUS>(FT_EEPROM_READ_FAILED), checkStatus);
}

TEST_F(Identity, FailedReadOnReusedObjectKeepsThePreviousVerdict)
{
    ComAccess port;
    sim::Eeprom cable = meter();
    cable.cbus4 = 1;
    check(port, cable);
    ASSERT_EQ(1, port.meterMismatch);
    check(port, meter(), true);
    EXPECT_EQ(1, port.meterMismatch);

    check(port, meter());
    ASSERT_EQ(0, port.meterMismatch);
    check(port, cable, true);
    EXPECT_EQ(0, port.meterMismatch);
}

// A read that fills only part of the record (here: no FT232R fields) must not be judged on
// the values an earlier meter left in the same object.
TEST_F(Identity, PartlyFilledRecordIsNotJudgedOnThePreviousDevice)
{
    ComAccess port;
    check(port, meter());
    ASSERT_EQ(0, port.meterMismatch);

    sim::reset();
    sim::DeviceConfig partial;
    partial.eeprom = meter();
    partial.faults.eepromPartial = true;
    sim::addDevice(partial);
    ASSERT_EQ(0u, port.openAndConfigure(0, 115200, 8, 0, 0));
    EXPECT_EQ(0u, port.checkMeterIdentity());
    EXPECT_EQ(1, port.meterMismatch);   // InvertDTR and CBUS4 read as 0, not the meter's
    port.closePort();
}

}  // namespace
