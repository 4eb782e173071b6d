// Which meters a load takes: those named by serial number or by USB port, every attached meter
// (--all), or the one attached meter. The choice is made from what the system lists without opening a
// device; only a candidate (named, or with the meter's description) is opened, its EEPROM
// must pass the identity check, and only then is it claimed and configured. Every candidate
// that is not taken is accounted for as a failed meter.
#pragma once

#include "kplx/meter_session.h"
#include "link/link.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kplx {

struct ChosenMeter {
    std::string serial;                      // as the device has it; outputs show it escaped
    std::string location;                    // where it is plugged in ("" where unknown)
    std::unique_ptr<link::MeterLink> link;   // open, claimed, configured, a meter
};

// What the command line asks for. With serials and ports both given, a device must match both.
struct SelectionRequest {
    std::vector<std::string> serials;   // as given: the shown form, \xNN standing for a byte
    std::vector<std::string> ports;     // USB locations as the system names them (Linux: 1-2.3)
    bool all = false;

    bool named() const { return !serials.empty() || !ports.empty(); }
};

struct Selection {
    std::vector<ChosenMeter> meters;
    std::vector<MeterReport> refused;   // candidates not taken: failed meters (port-error, not-a-meter)
    std::vector<std::string> notes;     // devices passed over as not meters by their descriptors
    int exitCode = 0;                   // non-zero: nothing is to be loaded, `error` says why
    std::string error;
};

// Opens no further candidate once `stopRequested` says so; the caller reports what it chose.
Selection selectMeters(link::Backend &backend, const SelectionRequest &request,
                       const std::function<bool()> &stopRequested = nullptr);

// Chooses among devices already listed: the station's way, one plug-in at a time.
Selection selectFrom(link::Backend &backend, const std::vector<link::DeviceInfo> &devices,
                     const SelectionRequest &request, const std::function<bool()> &stopRequested = nullptr);

// What the listed devices lack before the request can be met ("" when it can), judged from
// what the system lists, without opening anything: the named serials and ports, or at least
// `expected` candidates (one without --all). --wait polls this.
std::string missingFor(const std::vector<link::DeviceInfo> &devices, const SelectionRequest &request, unsigned expected);

// Whether a device matches the serials and ports named (any device when none are).
bool matches(const link::DeviceInfo &device, const SelectionRequest &request);

// Whether a device is worth opening on its descriptors alone: it says it is a meter, or it
// could not say what it is.
bool isCandidate(const link::DeviceInfo &device);

enum class Verdict {
    meter,       // open, claimed and configured: `link` holds it
    notAMeter,   // its EEPROM was read and is not a meter's
    unchecked,   // it could not be opened, read, claimed or configured
};

// Opens, identifies, claims and configures one device; the report says why it is not taken.
// A stop asked for while its EEPROM was read leaves it unclaimed (`interrupted`).
Verdict openMeter(link::Backend &backend, const link::DeviceInfo &device, std::unique_ptr<link::MeterLink> &link,
                  MeterReport &refusal, const std::function<bool()> &stopRequested = nullptr);

// What makes a bridge not a meter's, from the identity check's deviations.
std::string describeDeviations(unsigned deviations, const link::EepromRecord &record);

// How a device is named in messages: its serial number as shown, else where it is.
std::string deviceName(const link::DeviceInfo &device);

}  // namespace kplx
