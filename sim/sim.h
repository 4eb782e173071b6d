// The project's stand-in for the D2XX library: a simulated set of FTDI devices (meters and
// ordinary cables). The same code is built natively (unit tests bind it by ordinal through the
// native test host) and as Ftd2xx.dll for the Windows builds (configured from a text file whose
// path is in KPLX_SIM_CONFIG; see sim/README.md).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

enum class Role { meter, cable };

// The bridge's EEPROM as FT_EE_Read reports it.
struct Eeprom {
    uint16_t vendorId = 0x0403;
    uint16_t productId = 0x6001;
    std::string manufacturer = "FTDI";
    std::string manufacturerId = "FT";
    std::string description = "Quorvel KPLX";
    std::string serialNumber = "KP000001";
    uint16_t maxPower = 90;
    uint16_t pnp = 0;
    uint16_t selfPowered = 0;
    uint16_t remoteWakeup = 0;
    uint8_t invertTxd = 0;
    uint8_t invertRxd = 0;
    uint8_t invertDtr = 1;
    uint8_t cbus4 = 5;
};

// Faults, by the 0-based number of the frame the device has received since it was plugged in
// (-1 = never).
struct Faults {
    int nakAtFrame = -1;                 // answer NAK instead of the normal reply
    int silentFromFrame = -1;            // no reply to this frame or any later one
    int rawReplyAtFrame = -1;            // answer rawReply instead of the normal reply
    std::vector<uint8_t> rawReply;
    std::vector<int> replyPieces;        // every reply becomes readable in pieces of these sizes,
                                         // one piece per FT_Read call (the rest in one last piece)
    int unplugAtFrame = -1;              // unplugged when this frame arrives: no reply, every later
                                         // call on the handle fails with FT_IO_ERROR, gone from the listing
    bool eepromReadFails = false;        // FT_EE_Read returns FT_EEPROM_READ_FAILED
    bool eepromBadChecksum = false;      // the EEPROM's checksum is wrong: FT_EE_Read fails, and
                                         // libftdi's decode refuses the image
    bool eepromPartial = false;          // FT_EE_Read succeeds but leaves the FT232R fields as
                                         // they were (a chip without them)
    uint32_t eepromDelayMs = 0;          // reading the whole EEPROM takes this long (FT_EE_Read; the
                                         // vendor requests for its 64 words, a share each)
    int eepromFailFromOpen = -1;         // the same on the handles of this FT_Open and later ones,
                                         // counted from 0 (-1 = never)
    bool openFails = false;              // FT_Open returns FT_DEVICE_NOT_OPENED
    int unplugUrbError = 0;              // emulated USB: the errno the URB cut short by the unplug
                                         // ends with (EPROTO, EPIPE); 0: it goes through, and what
                                         // follows fails with ENODEV
    int stringLength[3] = {-1, -1, -1};  // the EEPROM's length byte for the manufacturer, description
                                         // and serial slots: 0 or 1 leaves no room for a descriptor
                                         // (the string is empty); -1: as the string needs
};

enum EepromString { kManufacturerString = 0, kDescriptionString = 1, kSerialString = 2 };

// A plug-in or a pull-out, in simulated milliseconds since the simulator started.
struct PlugEvent {
    double atMs;
    bool plugIn;   // false: pulled out
};

// Optional link timing: wire time at the set baud rate (10 bits a byte), the bridge's latency
// timer before a short reply becomes readable, and the meter's processing time per frame.
struct Link {
    bool enabled = false;
    uint32_t latencyMs = 16;
    uint32_t processMs = 1;
};

struct DeviceConfig {
    Role role = Role::meter;
    Eeprom eeprom;
    std::string version = "KPLX Meter V2.10";   // payload of the meter's answer to "VERSION"
    Faults faults;
    std::string databaseOut;                     // file for the received database ("" = none)
    std::string framesOut;                       // file for the frame log ("" = none)
    std::string callsOut;                        // file for the log of opens, closes and latency
                                                 // settings ("" = none)
    std::string usbPort;                         // its USB port, as sysfs names it ("1-2.3");
                                                 // "" = 1-<n> for the n-th device
    std::vector<PlugEvent> timeline;             // in time order, plug-ins and pull-outs in turn;
                                                 // absent until its first event if that is a plug-in
};

struct FrameRecord {
    double timeMs;                     // clock at the frame's last byte
    std::vector<uint8_t> bytes;        // the whole frame as received (STX .. CHK)
    bool valid;                        // STX, LEN and checksum were right
    double replyReadableMs;            // when its reply became readable (-1: none)
    double firstByteMs;                // clock at the FT_Write that gave its first byte
    std::vector<uint8_t> reply;        // what the device answered (empty: nothing)
};

// The port settings of a device, as its last FT_Open and later calls left them. FT_Open
// restores the defaults.
struct Port {
    bool open = false;
    uint32_t baudRate = 9600;
    uint8_t wordLength = 8;
    uint8_t stopBits = 0;
    uint8_t parity = 0;
    uint16_t flowControl = 0;
    bool dtrCleared = false;
    uint32_t readTimeoutMs = 0;        // 0: wait without end (capped at 60 s in the sim)
    uint32_t writeTimeoutMs = 0;
    int rxPurges = 0;
    int txPurges = 0;
    std::vector<int> latencySets;      // each FT_SetLatencyTimer (or vendor request), in order
    std::vector<int> eventChars;       // each event character set; -1 where it was turned off
};

// Devices.
// A device's index here is its place in the order of adding; it is also its FT_Open and
// FT_ListDevices index as long as every device before it is plugged in (absent ones are not
// listed, and the later ones move up).
void reset();                                   // no devices, virtual clock at 0, no link model
DeviceConfig defaultConfig(Role role);          // a healthy meter, or a cable with factory EEPROM
int addDevice(const DeviceConfig &config);      // returns its index; its timeline must be set by then
DeviceConfig &device(int index);                // change a device before it is opened
void unplug(int index);                         // as the unplugAtFrame fault, at once
bool plugged(int index);                        // present at nowMs (the timeline applied so far)
int plugIns(int index);                         // plug-ins so far; present from the start counts as one
std::string usbPort(int index);                 // its port: as configured, else 1-<n>
// FT_GetDeviceInfoDetail's location ID for a port: the bus and each port number as one hex digit
// (1-2.3 gives 0x123); 0 where a number does not fit in one digit.
uint32_t locationId(const std::string &usbPort);
bool loadConfig(const std::string &path);       // replaces the devices with a config file's
const std::string &configError();               // why the last loadConfig failed
void useDefaultConfig();                        // one healthy meter
// As a client process starts: the real clock, and the devices of the file named in
// KPLX_SIM_CONFIG, or one healthy meter without it. A bad file gives no devices and false
// (configError says why).
bool startFromEnvironment();
int deviceCount();                              // added ones, unplugged or not
const Port &port(int index);

// What the meter saw.
const std::vector<uint8_t> &receivedDatabase(int index);   // blocks after "DATABASE", in order
const std::vector<FrameRecord> &frames(int index);
bool databaseComplete(int index);                          // "END" arrived after "DATABASE"
void writeOutputs();                                       // the -out files now

// Time. The virtual clock (the default natively) never waits: a read that gets nothing moves
// the clock by its timeout. The real clock (the default in the DLL) sleeps, scaled by timeScale.
void useVirtualClock(bool virtualClock);
void setTimeScale(double scale);
double nowMs();
void waitUntilMs(double ms);                    // a client waiting: the virtual clock moves there,
                                                // the real one sleeps until then
void setLink(const Link &link);

// The entry points by ordinal, for the native test host's GetProcAddress: the thirteen the
// utility binds, and the ones clients bind by name at this library's own ordinals. Ordinals
// listed in `missing` are not exported (a broken library).
typedef intptr_t (*Proc)();
Proc procByOrdinal(int ordinal);
Proc lookupProc(int ordinal, const char *name); // by name when name is set (testhost::ProcLookup)
void setMissingOrdinals(const std::vector<int> &missing);

}  // namespace sim
