// FT_EE_Read's record: filled in before the read the way a meter's check asks for it (the
// version-2 layout, through the FT232R fields), and the identity fields read back from it.
// Shared by the utility's check and kplx's D2XX link.
#pragma once

#include "core/identity.h"
#include "usb/d2xx.h"

// The string buffers the record points at, in the sizes the library documents.
struct EepromStrings {
    char manufacturer[32];
    char manufacturerId[16];
    char description[64];
    char serialNumber[16];
};

// Clears the record and the strings, so that a read that fills only part of them is never
// judged on older values, and fills in what the read needs.
void prepareEepromRead(FT_PROGRAM_DATA &record, char *manufacturer, char *manufacturerId, char *description,
                       char *serialNumber, WORD vendorId, WORD productId);

// The fields the identity check compares; `description` is the record's description buffer
// (64 bytes), terminated here if the library filled it to the end.
kplx::core::EepromFields identityFields(const FT_PROGRAM_DATA &record, char *description);
