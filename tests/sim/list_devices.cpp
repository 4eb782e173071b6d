// Loads a D2XX library as the utility does (by ordinal), lists its devices and asks each for
// its version; then, where the library has it (bound by name, as kplx binds it), prints the
// device information list made while device 0 is open. Exit code: 0 all went well, 1 a call
// failed, 2 the library or an entry point is missing.
#include <windows.h>

#include "usb/d2xx.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

HMODULE library = nullptr;
bool missing = false;

template <typename F> F bind(int ordinal) {
    FARPROC p = GetProcAddress(library, MAKEINTRESOURCEA(ordinal));
    if (p == nullptr) {
        std::printf("missing ordinal %d\n", ordinal);
        missing = true;
    }
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(p));
}

std::string versionOf(FtWriteFn write, FtReadFn read, FT_HANDLE h) {
    unsigned char request[] = {0x02, 0x07, 'V', 'E', 'R', 'S', 'I', 'O', 'N', 0};
    unsigned sum = 0;
    for (size_t i = 1; i + 1 < sizeof request; ++i) sum += request[i];
    request[sizeof request - 1] = static_cast<unsigned char>(~sum);
    DWORD n = 0;
    if (write(h, request, sizeof request, &n) != FT_OK || n != sizeof request) return "write-failed";
    unsigned char reply[300];
    DWORD got = 0;
    for (DWORD chunk = 1; chunk != 0 && got < sizeof reply - 100; got += chunk)
        if (read(h, reply + got, 100, &chunk) != FT_OK) return "read-failed";
    if (got == 0) return "none";
    if (got < 4 || reply[0] != 0x06 || reply[1] != 0x02 || reply[2] + 4u != got) return "garbled";
    return std::string(reinterpret_cast<char *>(reply + 3), reply[2]);
}

FT_STATUS printInfoList(FtOpenFn open, FtCloseFn close) {
    auto createList = reinterpret_cast<FtCreateDeviceInfoListFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "FT_CreateDeviceInfoList")));
    auto detailOf = reinterpret_cast<FtGetDeviceInfoDetailFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "FT_GetDeviceInfoDetail")));
    if (createList == nullptr || detailOf == nullptr) {
        std::printf("info none\n");
        return FT_OK;
    }
    FT_HANDLE opened = nullptr;
    DWORD count = 0;
    if (open(0, &opened) != FT_OK || createList(&count) != FT_OK) return FT_OTHER_ERROR;
    std::printf("info %lu\n", static_cast<unsigned long>(count));
    for (DWORD i = 0; i < count; ++i) {
        DWORD flags = 0, type = 0, id = 0, locId = 0;
        char serial[FT_INFO_SERIAL_SIZE] = "", description[FT_INFO_DESCRIPTION_SIZE] = "";
        FT_HANDLE h = nullptr;
        if (detailOf(i, &flags, &type, &id, &locId, serial, description, &h) != FT_OK) return FT_OTHER_ERROR;
        std::printf("info %lu flags=%lu type=%lu id=%08lx loc=%lx serial=%s description=%s handle=%s\n",
                    static_cast<unsigned long>(i), static_cast<unsigned long>(flags), static_cast<unsigned long>(type),
                    static_cast<unsigned long>(id), static_cast<unsigned long>(locId), serial, description,
                    h == nullptr ? "none" : h == opened ? "ours" : "other");
    }
    return close(opened);
}

}  // namespace

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "Ftd2xx.dll";
    library = LoadLibraryA(path);
    if (library == nullptr) {
        std::printf("cannot load %s\n", path);
        return 2;
    }
    FtOpenFn open = bind<FtOpenFn>(FT_ORDINAL_OPEN);
    FtCloseFn close = bind<FtCloseFn>(FT_ORDINAL_CLOSE);
    FtReadFn read = bind<FtReadFn>(FT_ORDINAL_READ);
    FtWriteFn write = bind<FtWriteFn>(FT_ORDINAL_WRITE);
    bind<FtSetBaudRateFn>(FT_ORDINAL_SET_BAUD_RATE);
    bind<FtSetDataCharacteristicsFn>(FT_ORDINAL_SET_DATA_CHARACTERISTICS);
    bind<FtSetFlowControlFn>(FT_ORDINAL_SET_FLOW_CONTROL);
    bind<FtClrDtrFn>(FT_ORDINAL_CLR_DTR);
    bind<FtPurgeFn>(FT_ORDINAL_PURGE);
    FtSetTimeoutsFn setTimeouts = bind<FtSetTimeoutsFn>(FT_ORDINAL_SET_TIMEOUTS);
    FtListDevicesFn listDevices = bind<FtListDevicesFn>(FT_ORDINAL_LIST_DEVICES);
    FtEeReadFn eeRead = bind<FtEeReadFn>(FT_ORDINAL_EE_READ);
    FtGetDeviceInfoFn getDeviceInfo = bind<FtGetDeviceInfoFn>(FT_ORDINAL_GET_DEVICE_INFO);
    if (missing) return 2;

    DWORD count = 0;
    if (listDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK) return 1;
    std::printf("devices %lu\n", static_cast<unsigned long>(count));
    int result = 0;
    for (DWORD i = 0; i < count; ++i) {
        FT_HANDLE h = nullptr;
        FT_STATUS s = open(static_cast<int>(i), &h);
        if (s != FT_OK) {
            std::printf("%lu open-failed %lu\n", static_cast<unsigned long>(i), static_cast<unsigned long>(s));
            result = 1;
            continue;
        }
        FT_DEVICE type = 0;
        DWORD id = 0;
        char serial[16] = "", description[64] = "";
        char manufacturer[32] = "", manufacturerId[16] = "", eeDescription[64] = "", eeSerial[16] = "";
        FT_PROGRAM_DATA data;
        std::memset(&data, 0, sizeof data);
        data.Signature2 = 0xFFFFFFFF;
        data.Version = 2;
        data.Manufacturer = manufacturer;
        data.ManufacturerId = manufacturerId;
        data.Description = eeDescription;
        data.SerialNumber = eeSerial;
        if (getDeviceInfo(h, &type, &id, serial, description, nullptr) != FT_OK || eeRead(h, &data) != FT_OK ||
            setTimeouts(h, 200, 200) != FT_OK) {
            std::printf("%lu info-failed\n", static_cast<unsigned long>(i));
            result = 1;
        } else {
            std::printf("%lu type=%lu id=%08lx serial=%s description=%s eeprom=%s/%s dtr=%u cbus4=%u version=%s\n",
                        static_cast<unsigned long>(i), static_cast<unsigned long>(type),
                        static_cast<unsigned long>(id), serial, description, manufacturer, eeDescription,
                        data.InvertDTR, data.Cbus4, versionOf(write, read, h).c_str());
        }
        if (close(h) != FT_OK) result = 1;
    }
    if (printInfoList(open, close) != FT_OK) result = 1;
    return result;
}
