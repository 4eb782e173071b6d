// FT_EE_Read and FT_GetDeviceInfo fill the caller's memory, within its bounds.
#include "sim_support.h"

#include <cstring>

namespace {

class Eeprom : public simtest::SimTest {
protected:
    char manufacturer[40], manufacturerId[24], description[72], serial[24];
    FT_PROGRAM_DATA data;

    FT_STATUS readRecord(DWORD version) {
        for (char *b : {manufacturer, manufacturerId, description, serial}) std::memset(b, '@', 24);
        std::memset(description, '@', sizeof description);
        std::memset(&data, 0xA5, sizeof data);
        data.Signature1 = 0;
        data.Signature2 = 0xFFFFFFFF;
        data.Version = version;
        data.Manufacturer = manufacturer;
        data.ManufacturerId = manufacturerId;
        data.Description = description;
        data.SerialNumber = serial;
        return eeRead(handle, &data);
    }
};

TEST_F(Eeprom, FieldsGoIntoTheCallersBuffersAsFarAsItsVersion) {
    start();
    ASSERT_EQ(FT_OK, readRecord(2));
    EXPECT_EQ(description, data.Description);
    EXPECT_STREQ("Quorvel KPLX", description);
    EXPECT_STREQ("KP000001", serial);
    EXPECT_EQ(1, data.InvertDTR);
    EXPECT_EQ(5, data.Cbus4);
    for (DWORD version : {0u, 1u}) {
        ASSERT_EQ(FT_OK, readRecord(version));
        EXPECT_EQ(0xA5, data.InvertDTR);
        EXPECT_EQ(0xA5, data.Cbus4);
        EXPECT_EQ(version == 0 ? 0xA5 : 0, data.BIsVCP);
    }
}

TEST_F(Eeprom, LongStringsAreCutToTheBuffers) {
    sim::DeviceConfig c = sim::defaultConfig(sim::Role::meter);
    c.eeprom.description = std::string(100, 'd');
    c.eeprom.serialNumber = std::string(40, 's');
    start({c});
    ASSERT_EQ(FT_OK, readRecord(2));
    EXPECT_EQ(63u, std::strlen(description));
    EXPECT_EQ(15u, std::strlen(serial));
    char infoSerial[16], infoDescription[68];
    std::memset(infoDescription, '@', sizeof infoDescription);
    FT_DEVICE type = 0;
    DWORD id = 0;
    ASSERT_EQ(FT_OK, getDeviceInfo(handle, &type, &id, infoSerial, infoDescription, nullptr));
    EXPECT_EQ(static_cast<FT_DEVICE>(FT_DEVICE_232R), type);
    EXPECT_EQ(0x04036001u, id);
    EXPECT_EQ(15u, std::strlen(infoSerial));
    EXPECT_EQ('\0', infoDescription[63]);
    EXPECT_EQ('@', infoDescription[64]);
}

TEST_F(Eeprom, RecordWithoutSignatureIsRefused) {
    start();
    ASSERT_EQ(FT_OK, readRecord(2));
    data.Signature2 = 0;
    EXPECT_EQ(FT_INVALID_PARAMETER, eeRead(handle, &data));
}

}  // namespace
