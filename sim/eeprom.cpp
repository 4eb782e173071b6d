// FT_EE_Read's record: the caller's structure and string buffers, filled as far as its Version
// says it reaches.
#include "sim/eeprom.h"

#include <cstring>

namespace sim {
namespace detail {

// The buffer sizes FTDI documents for the record's strings.
constexpr size_t kManufacturerSize = 32;
constexpr size_t kManufacturerIdSize = 16;
constexpr size_t kDescriptionSize = 64;
constexpr size_t kSerialSize = 16;

void copyBounded(char *to, const std::string &from, size_t size) {
    size_t n = from.size() < size - 1 ? from.size() : size - 1;
    std::memcpy(to, from.data(), n);
    to[n] = '\0';
}

FT_STATUS fillProgramData(const Eeprom &e, FT_PROGRAM_DATA *p, bool withFt232rFields) {
    if (p->Signature1 != 0x00000000 || p->Signature2 != 0xFFFFFFFF) return FT_INVALID_PARAMETER;
    if (!p->Manufacturer || !p->ManufacturerId || !p->Description || !p->SerialNumber) return FT_INVALID_PARAMETER;
    p->VendorId = e.vendorId;
    p->ProductId = e.productId;
    copyBounded(p->Manufacturer, e.manufacturer, kManufacturerSize);
    copyBounded(p->ManufacturerId, e.manufacturerId, kManufacturerIdSize);
    copyBounded(p->Description, e.description, kDescriptionSize);
    copyBounded(p->SerialNumber, e.serialNumber, kSerialSize);
    p->MaxPower = e.maxPower;
    p->PnP = e.pnp;
    p->SelfPowered = e.selfPowered;
    p->RemoteWakeup = e.remoteWakeup;
    // An FT232R has none of the FT232B and FT2232C features.
    p->Rev4 = 0;
    p->IsoIn = p->IsoOut = p->PullDownEnable = p->SerNumEnable = p->USBVersionEnable = 0;
    p->USBVersion = 0x0200;
    if (p->Version >= 1) {
        p->Rev5 = 0;
        p->IsoInA = p->IsoInB = p->IsoOutA = p->IsoOutB = 0;
        p->PullDownEnable5 = p->SerNumEnable5 = p->USBVersionEnable5 = 0;
        p->USBVersion5 = 0x0200;
        p->AIsHighCurrent = p->BIsHighCurrent = 0;
        p->IFAIsFifo = p->IFAIsFifoTar = p->IFAIsFastSer = p->AIsVCP = 0;
        p->IFBIsFifo = p->IFBIsFifoTar = p->IFBIsFastSer = p->BIsVCP = 0;
    }
    if (p->Version >= 2 && withFt232rFields) {
        p->UseExtOsc = 0;
        p->HighDriveIOs = 0;
        p->EndpointSize = 64;
        p->PullDownEnableR = 0;
        p->SerNumEnableR = 1;
        p->InvertTXD = e.invertTxd;
        p->InvertRXD = e.invertRxd;
        p->InvertRTS = p->InvertCTS = p->InvertDSR = p->InvertDCD = p->InvertRI = 0;
        p->InvertDTR = e.invertDtr;
        p->Cbus0 = 3;   // the FT232R's factory CBUS functions: TXLED, RXLED, TXDEN, PWREN
        p->Cbus1 = 2;
        p->Cbus2 = 0;
        p->Cbus3 = 1;
        p->Cbus4 = e.cbus4;
        p->RIsD2XX = 0;
    }
    return FT_OK;
}

}  // namespace detail
}  // namespace sim
