#include "usb/com_access.h"

#include "usb/driver_library.h"

#include <string.h>

// What a meter's bridge carries in its EEPROM.
static const char meterDescription[] = "Quorvel KPLX";
#define METER_CBUS4 5
#define METER_MAX_POWER_MA 90

static void prepareRecord(ComAccess &port)
{
    FT_PROGRAM_DATA &d = port.programData;
    d.Signature1 = 0x00000000;
    d.Signature2 = 0xFFFFFFFF;
    d.Version = 2;   // the FT232R fields are the ones compared
    d.VendorId = port.vendorId;
    d.ProductId = port.productId;
    d.Manufacturer = port.manufacturer;
    d.ManufacturerId = port.manufacturerId;
    d.Description = port.description;
    d.SerialNumber = port.serialNumber;
    d.MaxPower = METER_MAX_POWER_MA;
    d.PnP = 0;
    d.SelfPowered = 0;
    d.RemoteWakeup = 0;
}

FT_STATUS ComAccess::checkMeterIdentity()
{
    prepareRecord(*this);
    status = driver.eeRead(handle, &programData);
    if (status != FT_OK)
        return status;   // the previous verdict stands

    // Every test runs; any one deviation marks the device as not a meter.
    const FT_PROGRAM_DATA &d = programData;
    meterMismatch = 0;
    if (d.PnP == 1)
        meterMismatch = 1;
    if (d.SelfPowered == 1)
        meterMismatch = 1;
    if (d.InvertDTR == 0)
        meterMismatch = 1;
    if (d.InvertRXD == 1)
        meterMismatch = 1;
    if (d.InvertTXD == 1)
        meterMismatch = 1;
    if (d.Cbus4 != METER_CBUS4)
        meterMismatch = 1;
    description[sizeof description - 1] = '\0';   // the library's string may fill the buffer
    if (strcmp(description, meterDescription) != 0)
        meterMismatch = 1;
    return status;
}
