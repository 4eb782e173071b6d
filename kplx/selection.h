// Which meters a load takes: those named by serial number, every attached meter (--all), or
// the one attached meter. Each is opened, configured and must pass the identity check; unlike
// the utility, a device whose EEPROM cannot be read is not taken for a meter.
#pragma once

#include "kplx/meter_session.h"
#include "link/link.h"

#include <memory>
#include <string>
#include <vector>

namespace kplx {

struct ChosenMeter {
    std::string serial;
    std::unique_ptr<link::MeterLink> link;   // open, configured, a meter
};

struct Selection {
    std::vector<ChosenMeter> meters;
    std::vector<MeterReport> refused;   // named devices that are not meters or cannot be opened
    std::vector<std::string> notes;     // devices passed over by --all or by the lone-meter search
    int exitCode = 0;                   // non-zero: nothing is to be loaded, `error` says why
    std::string error;
};

Selection selectMeters(link::Backend &backend, const std::vector<std::string> &serials, bool all);

// Opens, configures and identifies one device. On success `link` holds it; otherwise the
// report says why it is not taken (not-a-meter or port-error).
bool openMeter(link::Backend &backend, const std::string &serial, std::unique_ptr<link::MeterLink> &link,
               MeterReport &refusal);

// What makes a bridge not a meter's, from the identity check's deviations.
std::string describeDeviations(unsigned deviations, const link::EepromRecord &record);

}  // namespace kplx
