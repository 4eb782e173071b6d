#include "fixture.h"

#include "usb/com_access.h"

namespace {

class Port : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        installDriver();
    }
};

// --- Loading the driver ---------------------------------------------------------------------

TEST_F(Port, DriverIsLoadedFromTheSystemFolderOnly)
{
    testhost::reset();
    testhost::installLibrary("Ftd2xx.dll", simLookup);   // a planted copy beside the program
    EXPECT_FALSE(loadDriverLibrary());
    EXPECT_EQ(nullptr, driverLibrary);
    ASSERT_EQ(1u, testhost::loadLibraryRequests().size());
    EXPECT_EQ(driverPath(), testhost::loadLibraryRequests()[0]);
}

TEST_F(Port, LibraryLackingAnOrdinalCountsAsNotLoaded)
{
    for (int missing : {1, 17, 61}) {
        sim::setMissingOrdinals({missing});
        EXPECT_FALSE(loadDriverLibrary()) << "ordinal " << missing;
        EXPECT_EQ(nullptr, driver.open) << "ordinal " << missing;
    }
    sim::setMissingOrdinals({});
    EXPECT_TRUE(loadDriverLibrary());
}

// --- The closed-object rule -----------------------------------------------------------------

TEST_F(Port, ClosedPortMakesNoCallAndKeepsStatus)
{
    ComAccess port;
    port.status = 77;
    unsigned char buffer[4] = {};
    EXPECT_EQ(0u, port.closePort());
    EXPECT_EQ(0u, port.writeBytes(buffer, 4));
    EXPECT_EQ(0u, port.readBytes(buffer, 4));
    EXPECT_EQ(0u, port.purge(3));
    EXPECT_EQ(0u, port.purgeReceive());
    EXPECT_EQ(0u, port.purgeTransmit());
    EXPECT_EQ(0u, port.setBaudRate(9600));
    EXPECT_EQ(0u, port.setDataCharacteristics(7, 2, 1));
    EXPECT_EQ(0u, port.setTimeouts(1, 2));
    EXPECT_EQ(0u, port.setFlowControl(0, 0, 0));
    EXPECT_EQ(0u, port.clearDtr());
    EXPECT_EQ(77u, port.status);
    EXPECT_EQ(0u, port.baudRate);
    EXPECT_EQ(1000u, port.writeTimeout);
}

TEST_F(Port, NewObjectIsClosedWithMeterIds)
{
    ComAccess port;
    EXPECT_EQ(-1, port.deviceIndex);
    EXPECT_EQ(nullptr, port.handle);
    EXPECT_EQ(0x0403, port.vendorId);
    EXPECT_EQ(0x6001, port.productId);
    EXPECT_EQ(0, port.meterMismatch);
}

// --- Opening --------------------------------------------------------------------------------

TEST_F(Port, OpenOnMissingIndexReturnsTheOpenFailure)
{
    sim::addDevice(sim::DeviceConfig());
    ComAccess port;
    EXPECT_EQ(static_cast<FT_STATUS>(FT_DEVICE_NOT_FOUND), port.openAndConfigure(1, 115200, 8, 0, 0));
    EXPECT_EQ(nullptr, port.handle);
    EXPECT_EQ(-1, port.deviceIndex);
    EXPECT_EQ(0u, port.baudRate);
}

TEST_F(Port, OpenFailureOfADevice)
{
    sim::DeviceConfig config;
    config.faults.openFails = true;
    sim::addDevice(config);
    ComAccess port;
    EXPECT_NE(0u, port.openAndConfigure(0, 115200, 8, 0, 0));
    EXPECT_EQ(nullptr, port.handle);
}

TEST_F(Port, OpenAndConfigureSetsTheSerialParameters)
{
    sim::addDevice(sim::DeviceConfig());
    ComAccess port;
    EXPECT_EQ(0u, port.openAndConfigure(0, 115200, 8, 0, 0));
    EXPECT_NE(nullptr, port.handle);
    EXPECT_EQ(0, port.deviceIndex);
    EXPECT_EQ(115200u, port.baudRate);
    EXPECT_EQ(8, port.wordLength);
    EXPECT_EQ(0, port.stopBits);
    EXPECT_EQ(0, port.parity);
    port.closePort();
}

TEST_F(Port, CloseStoresItsStatusAndForgetsTheDevice)
{
    sim::addDevice(sim::DeviceConfig());
    ComAccess port;
    ASSERT_EQ(0u, port.openAndConfigure(0, 115200, 8, 0, 0));
    port.status = 99;
    EXPECT_EQ(0u, port.closePort());
    EXPECT_EQ(0u, port.status);
    EXPECT_EQ(-1, port.deviceIndex);
    EXPECT_EQ(nullptr, port.handle);
    // The device can be opened again: the close released it.
    EXPECT_EQ(0u, port.openPort(0));
    port.closePort();
}

TEST_F(Port, UnpluggedDeviceFailsLaterCalls)
{
    sim::addDevice(sim::DeviceConfig());
    ComAccess port;
    ASSERT_EQ(0u, port.openAndConfigure(0, 115200, 8, 0, 0));
    sim::unplug(0);
    unsigned char byte = 0;
    EXPECT_EQ(static_cast<FT_STATUS>(FT_IO_ERROR), port.writeBytes(&byte, 1));
    EXPECT_EQ(static_cast<FT_STATUS>(FT_IO_ERROR), port.status);
    port.closePort();
}

TEST_F(Port, TimeoutsAreRecordedWhateverTheCallReturned)
{
    sim::addDevice(sim::DeviceConfig());
    ComAccess port;
    ASSERT_EQ(0u, port.openAndConfigure(0, 115200, 8, 0, 0));
    EXPECT_EQ(0u, port.setTimeouts(6000, 100));
    EXPECT_EQ(6000u, port.readTimeout);
    EXPECT_EQ(100u, port.writeTimeout);
    port.closePort();
}

}  // namespace
