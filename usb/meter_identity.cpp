#include "usb/com_access.h"

#include "core/identity.h"
#include "usb/driver_library.h"

#include <string.h>

#define METER_MAX_POWER_MA 90

// A read that fills only part of the record or its strings must never be judged on what an
// earlier device left there, so everything starts cleared.
static void prepareRecord(ComAccess &port)
{
    memset(&port.programData, 0, sizeof port.programData);
    memset(port.manufacturer, 0, sizeof port.manufacturer);
    memset(port.manufacturerId, 0, sizeof port.manufacturerId);
    memset(port.description, 0, sizeof port.description);
    memset(port.serialNumber, 0, sizeof port.serialNumber);

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

    const FT_PROGRAM_DATA &d = programData;
    description[sizeof description - 1] = '\0';   // the library's string may fill the buffer
    kplx::core::EepromFields fields;
    fields.pnp = d.PnP;
    fields.selfPowered = d.SelfPowered;
    fields.invertDtr = d.InvertDTR;
    fields.invertRxd = d.InvertRXD;
    fields.invertTxd = d.InvertTXD;
    fields.cbus4 = d.Cbus4;
    fields.description = description;
    meterMismatch = kplx::core::isMeter(fields) ? 0 : 1;
    return status;
}
