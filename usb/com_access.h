// The port object around one D2XX device handle. Each method wraps one library call and
// records its status; on a closed port the wrapping methods return 0 without a call and
// leave `status` as it was.
#pragma once

#include "usb/d2xx.h"

#define METER_VENDOR_ID 0x0403
#define METER_PRODUCT_ID 0x6001

class ComAccess {
public:
    ComAccess();
    ~ComAccess();   // does not close the device: owners close first where they need it

    FT_STATUS openPort(int index);
    FT_STATUS closePort();
    FT_STATUS writeBytes(const void *buffer, DWORD length);
    FT_STATUS readBytes(void *buffer, DWORD length);
    FT_STATUS purge(ULONG mask);
    FT_STATUS purgeReceive();
    FT_STATUS purgeTransmit();
    FT_STATUS setBaudRate(ULONG baud);
    FT_STATUS setDataCharacteristics(ULONG wordLength, ULONG stopBits, ULONG parity);
    FT_STATUS setTimeouts(ULONG read, ULONG write);
    FT_STATUS setFlowControl(USHORT mode, UCHAR xon, UCHAR xoff);
    FT_STATUS clearDtr();
    FT_STATUS openAndConfigure(int index, ULONG baud, ULONG wordLength, ULONG stopBits, ULONG parity);

    // The bridge's latency timer, where the library exports the functions by name;
    // FT_NOT_SUPPORTED, without a call, where it does not.
    FT_STATUS getLatencyTimer(UCHAR *ms);
    FT_STATUS setLatencyTimer(UCHAR ms);

    // Reads the bridge's EEPROM and sets meterMismatch when it does not describe a meter.
    // Needs an open port; a failed read leaves the previous verdict.
    FT_STATUS checkMeterIdentity();

    int deviceIndex;
    FT_HANDLE handle;
    FT_STATUS status;
    DWORD bytesWritten;
    DWORD bytesRead;
    DWORD baudRate;
    BYTE wordLength;
    BYTE stopBits;
    BYTE parity;
    DWORD readTimeout;
    DWORD writeTimeout;
    FT_PROGRAM_DATA programData;
    WORD vendorId;
    WORD productId;
    char manufacturer[32];
    char manufacturerId[16];
    char description[64];
    char serialNumber[16];
    BYTE meterMismatch;
    BYTE bridgeTuned;        // the transfer changed the latency timer
    BYTE latencyAtOpen;      // the latency timer found before, put back when the port closes
};
