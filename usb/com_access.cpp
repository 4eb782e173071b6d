#include "usb/com_access.h"

#include "usb/driver_library.h"

#include <string.h>

ComAccess::ComAccess()
    : deviceIndex(-1), handle(NULL), status(FT_OK), bytesWritten(0), bytesRead(0), baudRate(0),
      wordLength(0), stopBits(0), parity(0), readTimeout(0), writeTimeout(1000),
      vendorId(METER_VENDOR_ID), productId(METER_PRODUCT_ID), meterMismatch(0), bridgeTuned(0), latencyAtOpen(0)
{
    memset(&programData, 0, sizeof programData);
    memset(manufacturer, 0, sizeof manufacturer);
    memset(manufacturerId, 0, sizeof manufacturerId);
    memset(description, 0, sizeof description);
    memset(serialNumber, 0, sizeof serialNumber);
}

ComAccess::~ComAccess()
{
}

FT_STATUS ComAccess::openPort(int index)
{
    status = driver.open(index, &handle);
    if (status == FT_OK)
        deviceIndex = index;
    else
        handle = NULL;
    return status;
}

FT_STATUS ComAccess::closePort()
{
    if (handle == NULL)
        return 0;
    status = driver.close(handle);
    handle = NULL;
    deviceIndex = -1;
    return status;
}

FT_STATUS ComAccess::writeBytes(const void *buffer, DWORD length)
{
    if (handle == NULL)
        return 0;
    status = driver.write(handle, const_cast<void *>(buffer), length, &bytesWritten);
    return status;
}

FT_STATUS ComAccess::readBytes(void *buffer, DWORD length)
{
    if (handle == NULL)
        return 0;
    status = driver.read(handle, buffer, length, &bytesRead);
    return status;
}

FT_STATUS ComAccess::purge(ULONG mask)
{
    if (handle == NULL)
        return 0;
    status = driver.purge(handle, mask);
    return status;
}

FT_STATUS ComAccess::purgeReceive()
{
    return purge(FT_PURGE_RX);
}

FT_STATUS ComAccess::purgeTransmit()
{
    return purge(FT_PURGE_TX);
}

FT_STATUS ComAccess::setBaudRate(ULONG baud)
{
    if (handle == NULL)
        return 0;
    status = driver.setBaudRate(handle, baud);
    baudRate = baud;
    return status;
}

FT_STATUS ComAccess::setDataCharacteristics(ULONG bits, ULONG stop, ULONG parityCode)
{
    if (handle == NULL)
        return 0;
    status = driver.setDataCharacteristics(handle, static_cast<UCHAR>(bits), static_cast<UCHAR>(stop),
                                           static_cast<UCHAR>(parityCode));
    wordLength = static_cast<BYTE>(bits);
    stopBits = static_cast<BYTE>(stop);
    parity = static_cast<BYTE>(parityCode);
    return status;
}

FT_STATUS ComAccess::setTimeouts(ULONG read, ULONG write)
{
    if (handle == NULL)
        return 0;
    status = driver.setTimeouts(handle, read, write);
    readTimeout = read;
    writeTimeout = write;
    return status;
}

FT_STATUS ComAccess::setFlowControl(USHORT mode, UCHAR xon, UCHAR xoff)
{
    if (handle == NULL)
        return 0;
    status = driver.setFlowControl(handle, mode, xon, xoff);
    return status;
}

FT_STATUS ComAccess::clearDtr()
{
    if (handle == NULL)
        return 0;
    status = driver.clrDtr(handle);
    return status;
}

FT_STATUS ComAccess::openAndConfigure(int index, ULONG baud, ULONG bits, ULONG stop, ULONG parityCode)
{
    openPort(index);
    clearDtr();   // nothing on a failed open, so status still holds the open's result
    if (status != FT_OK)
        return status;
    // Only the flow-control result decides, as the meter has always been configured.
    setBaudRate(baud);
    setDataCharacteristics(bits, stop, parityCode);
    setFlowControl(FT_FLOW_NONE, 0, 0);
    return status;
}

FT_STATUS ComAccess::getLatencyTimer(UCHAR *ms)
{
    if (handle == NULL)
        return 0;
    if (driverOptional.getLatencyTimer == NULL)
        return FT_NOT_SUPPORTED;
    status = driverOptional.getLatencyTimer(handle, ms);
    return status;
}

FT_STATUS ComAccess::setLatencyTimer(UCHAR ms)
{
    if (handle == NULL)
        return 0;
    if (driverOptional.setLatencyTimer == NULL)
        return FT_NOT_SUPPORTED;
    status = driverOptional.setLatencyTimer(handle, ms);
    return status;
}
