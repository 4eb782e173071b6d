// The part of the D2XX driver library that this utility and kplx use, declared here from the
// library's documented interface: status codes, handle, the EEPROM record, the thirteen entry
// points with the ordinals they are bound by, and the ones bound by name where a library has them.
#pragma once

#include <windows.h>
#include <stddef.h>

typedef ULONG FT_STATUS;
typedef PVOID FT_HANDLE;
typedef ULONG FT_DEVICE;

enum {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_DEVICE_NOT_OPENED_FOR_ERASE = 8,
    FT_DEVICE_NOT_OPENED_FOR_WRITE = 9,
    FT_FAILED_TO_WRITE_DEVICE = 10,
    FT_EEPROM_READ_FAILED = 11,
    FT_EEPROM_WRITE_FAILED = 12,
    FT_EEPROM_ERASE_FAILED = 13,
    FT_EEPROM_NOT_PRESENT = 14,
    FT_EEPROM_NOT_PROGRAMMED = 15,
    FT_INVALID_ARGS = 16,
    FT_NOT_SUPPORTED = 17,
    FT_OTHER_ERROR = 18
};

#define FT_PURGE_RX 1
#define FT_PURGE_TX 2
#define FT_LIST_NUMBER_ONLY 0x80000000UL
#define FT_LIST_BY_INDEX 0x40000000UL
#define FT_OPEN_BY_SERIAL_NUMBER 1
#define FT_OPEN_BY_DESCRIPTION 2
#define FT_LIST_STRING_SIZE 64      // FT_ListDevices' buffers, as the library documents them
#define FT_FLOW_NONE 0x0000
#define FT_BITS_8 8
#define FT_STOP_BITS_1 0
#define FT_PARITY_NONE 0
#define FT_DEVICE_UNKNOWN 3
#define FT_DEVICE_232R 5
#define FT_FLAGS_OPENED 1           // FT_GetDeviceInfoDetail's flags: the device is open
#define FT_FLAGS_HISPEED 2          //   and enumerated at high speed
#define FT_INFO_SERIAL_SIZE 16      // FT_GetDeviceInfoDetail's buffers, as the library documents them
#define FT_INFO_DESCRIPTION_SIZE 64

// EEPROM record, version-2 layout: the common fields, the FT232B (Rev4) and FT2232C (Rev5)
// extensions and the FT232R fields, which are the ones the meter check reads.
typedef struct ft_program_data {
    DWORD Signature1;      // 0x00000000
    DWORD Signature2;      // 0xFFFFFFFF
    DWORD Version;         // 2: up to and including the FT232R fields
    WORD VendorId;
    WORD ProductId;
    char *Manufacturer;
    char *ManufacturerId;
    char *Description;
    char *SerialNumber;
    WORD MaxPower;         // mA
    WORD PnP;
    WORD SelfPowered;
    WORD RemoteWakeup;
    // FT232B
    UCHAR Rev4;
    UCHAR IsoIn;
    UCHAR IsoOut;
    UCHAR PullDownEnable;
    UCHAR SerNumEnable;
    UCHAR USBVersionEnable;
    WORD USBVersion;
    // FT2232C
    UCHAR Rev5;
    UCHAR IsoInA;
    UCHAR IsoInB;
    UCHAR IsoOutA;
    UCHAR IsoOutB;
    UCHAR PullDownEnable5;
    UCHAR SerNumEnable5;
    UCHAR USBVersionEnable5;
    WORD USBVersion5;
    UCHAR AIsHighCurrent;
    UCHAR BIsHighCurrent;
    UCHAR IFAIsFifo;
    UCHAR IFAIsFifoTar;
    UCHAR IFAIsFastSer;
    UCHAR AIsVCP;
    UCHAR IFBIsFifo;
    UCHAR IFBIsFifoTar;
    UCHAR IFBIsFastSer;
    UCHAR BIsVCP;
    // FT232R
    UCHAR UseExtOsc;
    UCHAR HighDriveIOs;
    UCHAR EndpointSize;
    UCHAR PullDownEnableR;
    UCHAR SerNumEnableR;
    UCHAR InvertTXD;
    UCHAR InvertRXD;
    UCHAR InvertRTS;
    UCHAR InvertCTS;
    UCHAR InvertDTR;
    UCHAR InvertDSR;
    UCHAR InvertDCD;
    UCHAR InvertRI;
    UCHAR Cbus0;
    UCHAR Cbus1;
    UCHAR Cbus2;
    UCHAR Cbus3;
    UCHAR Cbus4;
    UCHAR RIsD2XX;
} FT_PROGRAM_DATA, *PFT_PROGRAM_DATA;

#if defined(_WIN32) && !defined(_WIN64)
// The library reads and writes this record by byte position; on the shipped 32-bit build
// the positions must be the library's own.
static_assert(offsetof(FT_PROGRAM_DATA, Signature1) == 0, "Signature1");
static_assert(offsetof(FT_PROGRAM_DATA, Signature2) == 4, "Signature2");
static_assert(offsetof(FT_PROGRAM_DATA, Version) == 8, "Version");
static_assert(offsetof(FT_PROGRAM_DATA, VendorId) == 12, "VendorId");
static_assert(offsetof(FT_PROGRAM_DATA, ProductId) == 14, "ProductId");
static_assert(offsetof(FT_PROGRAM_DATA, Manufacturer) == 16, "Manufacturer");
static_assert(offsetof(FT_PROGRAM_DATA, ManufacturerId) == 20, "ManufacturerId");
static_assert(offsetof(FT_PROGRAM_DATA, Description) == 24, "Description");
static_assert(offsetof(FT_PROGRAM_DATA, SerialNumber) == 28, "SerialNumber");
static_assert(offsetof(FT_PROGRAM_DATA, MaxPower) == 32, "MaxPower");
static_assert(offsetof(FT_PROGRAM_DATA, PnP) == 34, "PnP");
static_assert(offsetof(FT_PROGRAM_DATA, SelfPowered) == 36, "SelfPowered");
static_assert(offsetof(FT_PROGRAM_DATA, RemoteWakeup) == 38, "RemoteWakeup");
static_assert(offsetof(FT_PROGRAM_DATA, InvertTXD) == 73, "InvertTXD");
static_assert(offsetof(FT_PROGRAM_DATA, InvertRXD) == 74, "InvertRXD");
static_assert(offsetof(FT_PROGRAM_DATA, InvertDTR) == 77, "InvertDTR");
static_assert(offsetof(FT_PROGRAM_DATA, Cbus4) == 85, "Cbus4");
static_assert(sizeof(FT_PROGRAM_DATA) == 88, "FT_PROGRAM_DATA size");
#endif

// Entry points, bound by ordinal (the utility never calls one it could not bind).
typedef FT_STATUS (WINAPI *FtOpenFn)(int deviceNumber, FT_HANDLE *handle);
typedef FT_STATUS (WINAPI *FtCloseFn)(FT_HANDLE handle);
typedef FT_STATUS (WINAPI *FtReadFn)(FT_HANDLE handle, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesReturned);
typedef FT_STATUS (WINAPI *FtWriteFn)(FT_HANDLE handle, LPVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten);
typedef FT_STATUS (WINAPI *FtSetBaudRateFn)(FT_HANDLE handle, ULONG baudRate);
typedef FT_STATUS (WINAPI *FtSetDataCharacteristicsFn)(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity);
typedef FT_STATUS (WINAPI *FtSetFlowControlFn)(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff);
typedef FT_STATUS (WINAPI *FtClrDtrFn)(FT_HANDLE handle);
typedef FT_STATUS (WINAPI *FtPurgeFn)(FT_HANDLE handle, ULONG mask);
typedef FT_STATUS (WINAPI *FtSetTimeoutsFn)(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout);
typedef FT_STATUS (WINAPI *FtListDevicesFn)(PVOID arg1, PVOID arg2, DWORD flags);
typedef FT_STATUS (WINAPI *FtEeReadFn)(FT_HANDLE handle, PFT_PROGRAM_DATA data);
typedef FT_STATUS (WINAPI *FtGetDeviceInfoFn)(FT_HANDLE handle, FT_DEVICE *type, LPDWORD id, PCHAR serialNumber, PCHAR description, LPVOID dummy);

// Bound by name, where the library has them.
typedef FT_STATUS (WINAPI *FtSetLatencyTimerFn)(FT_HANDLE handle, UCHAR latencyMs);
typedef FT_STATUS (WINAPI *FtGetLatencyTimerFn)(FT_HANDLE handle, UCHAR *latencyMs);
typedef FT_STATUS (WINAPI *FtSetCharsFn)(FT_HANDLE handle, UCHAR eventChar, UCHAR eventCharEnabled, UCHAR errorChar, UCHAR errorCharEnabled);
// The device information list: made by FT_CreateDeviceInfoList (which returns how many devices
// it holds), read entry by entry; `flags` bit 0 is FT_FLAGS_OPENED, `serialNumber` takes 16
// bytes and `description` 64, `handle` is the device's handle where this process has it open.
typedef FT_STATUS (WINAPI *FtCreateDeviceInfoListFn)(LPDWORD numDevs);
typedef FT_STATUS (WINAPI *FtGetDeviceInfoDetailFn)(DWORD index, LPDWORD flags, LPDWORD type, LPDWORD id, LPDWORD locId,
                                                   LPVOID serialNumber, LPVOID description, FT_HANDLE *handle);

#define FT_ORDINAL_OPEN 1
#define FT_ORDINAL_CLOSE 2
#define FT_ORDINAL_READ 3
#define FT_ORDINAL_WRITE 4
#define FT_ORDINAL_SET_BAUD_RATE 7
#define FT_ORDINAL_SET_DATA_CHARACTERISTICS 8
#define FT_ORDINAL_SET_FLOW_CONTROL 9
#define FT_ORDINAL_CLR_DTR 11
#define FT_ORDINAL_PURGE 16
#define FT_ORDINAL_SET_TIMEOUTS 17
#define FT_ORDINAL_LIST_DEVICES 28
#define FT_ORDINAL_EE_READ 38
#define FT_ORDINAL_GET_DEVICE_INFO 61
