#include "usb/eeprom_record.h"

#include <string.h>

#define EEPROM_RECORD_VERSION 2   // the FT232R fields are the ones compared
#define METER_MAX_POWER_MA 90
#define DESCRIPTION_SIZE 64

void prepareEepromRead(FT_PROGRAM_DATA &d, char *manufacturer, char *manufacturerId, char *description,
                       char *serialNumber, WORD vendorId, WORD productId)
{
    memset(&d, 0, sizeof d);
    memset(manufacturer, 0, sizeof(EepromStrings::manufacturer));
    memset(manufacturerId, 0, sizeof(EepromStrings::manufacturerId));
    memset(description, 0, sizeof(EepromStrings::description));
    memset(serialNumber, 0, sizeof(EepromStrings::serialNumber));
    d.Signature1 = 0x00000000;
    d.Signature2 = 0xFFFFFFFF;
    d.Version = EEPROM_RECORD_VERSION;
    d.VendorId = vendorId;
    d.ProductId = productId;
    d.Manufacturer = manufacturer;
    d.ManufacturerId = manufacturerId;
    d.Description = description;
    d.SerialNumber = serialNumber;
    d.MaxPower = METER_MAX_POWER_MA;
    d.PnP = 0;
    d.SelfPowered = 0;
    d.RemoteWakeup = 0;
}

kplx::core::EepromFields identityFields(const FT_PROGRAM_DATA &d, char *description)
{
    description[DESCRIPTION_SIZE - 1] = '\0';   // the library's string may fill the buffer
    kplx::core::EepromFields f;
    f.pnp = d.PnP;
    f.selfPowered = d.SelfPowered;
    f.invertDtr = d.InvertDTR;
    f.invertRxd = d.InvertRXD;
    f.invertTxd = d.InvertTXD;
    f.cbus4 = d.Cbus4;
    f.description = description;
    return f;
}
