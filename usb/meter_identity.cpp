#include "usb/com_access.h"

#include "core/identity.h"
#include "usb/driver_library.h"
#include "usb/eeprom_record.h"

// The port's string buffers are the record's documented sizes.
static_assert(sizeof ComAccess::manufacturer == sizeof EepromStrings::manufacturer, "manufacturer");
static_assert(sizeof ComAccess::manufacturerId == sizeof EepromStrings::manufacturerId, "manufacturerId");
static_assert(sizeof ComAccess::description == sizeof EepromStrings::description, "description");
static_assert(sizeof ComAccess::serialNumber == sizeof EepromStrings::serialNumber, "serialNumber");

FT_STATUS ComAccess::checkMeterIdentity()
{
    prepareEepromRead(programData, manufacturer, manufacturerId, description, serialNumber, vendorId, productId);
    status = driver.eeRead(handle, &programData);
    if (status != FT_OK)
        return status;   // the previous verdict stands

    meterMismatch = kplx::core::isMeter(identityFields(programData, description)) ? 0 : 1;
    return status;
}
