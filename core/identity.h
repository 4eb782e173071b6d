// A meter is told apart from any other FTDI bridge by the configuration in the bridge's EEPROM.
#pragma once

#include <cstdint>
#include <string_view>

namespace kplx::core {

// The EEPROM fields the check compares.
struct EepromFields {
    uint16_t pnp = 0;
    uint16_t selfPowered = 0;
    uint8_t invertDtr = 0;
    uint8_t invertRxd = 0;
    uint8_t invertTxd = 0;
    uint8_t cbus4 = 0;
    std::string_view description;
};

constexpr char kMeterDescription[] = "Quorvel KPLX";
constexpr uint8_t kMeterCbus4 = 5;   // CBUS4 drives SLEEP#

// Each deviation from a meter's bridge, one bit each; 0 is a meter.
enum Deviation : unsigned {
    kPnp = 1u << 0,            // PnP is 1
    kSelfPowered = 1u << 1,    // self-powered (a meter is bus powered)
    kDtrNotInverted = 1u << 2, // InvertDTR is 0
    kRxdInverted = 1u << 3,    // InvertRXD is 1
    kTxdInverted = 1u << 4,    // InvertTXD is 1
    kCbus4 = 1u << 5,          // CBUS4 is not SLEEP#
    kDescription = 1u << 6,    // the description is not exactly the meter's
};

unsigned identityDeviations(const EepromFields &fields);
inline bool isMeter(const EepromFields &fields) { return identityDeviations(fields) == 0; }

}  // namespace kplx::core
