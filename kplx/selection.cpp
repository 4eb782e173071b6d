#include "kplx/selection.h"

#include "core/identity.h"
#include "kplx/exit_codes.h"

#include <algorithm>

namespace kplx {

namespace {

std::string joined(const std::vector<std::string> &items)
{
    std::string out;
    for (const std::string &s : items)
        out += (out.empty() ? "" : ", ") + s;
    return out;
}

MeterReport refusal(const std::string &serial, Outcome outcome, const std::string &message)
{
    MeterReport r;
    r.serial = serial;
    r.outcome = outcome;
    r.message = message;
    return r;
}

std::string deviceName(const link::DeviceInfo &d)
{
    return d.serial.empty() ? "device " + std::to_string(d.index) : d.serial;
}

}  // namespace

std::string describeDeviations(unsigned d, const link::EepromRecord &r)
{
    std::vector<std::string> parts;
    if (d & core::kDescription)
        parts.push_back("description \"" + r.description + "\"");
    if (d & core::kCbus4)
        parts.push_back("CBUS4 function " + std::to_string(r.values.cbus4) + ", not SLEEP#");
    if (d & core::kDtrNotInverted)
        parts.push_back("DTR not inverted");
    if (d & core::kRxdInverted)
        parts.push_back("RXD inverted");
    if (d & core::kTxdInverted)
        parts.push_back("TXD inverted");
    if (d & core::kSelfPowered)
        parts.push_back("self-powered");
    if (d & core::kPnp)
        parts.push_back("PnP set");
    return joined(parts);
}

bool openMeter(link::Backend &backend, const std::string &serial, std::unique_ptr<link::MeterLink> &link,
               MeterReport &report)
{
    link.reset();
    std::unique_ptr<link::MeterLink> opened;
    link::Status st = backend.open(serial, opened);
    if (st != link::Status::ok) {
        report = refusal(serial, Outcome::portError, "the port cannot be opened: " + backend.detail());
        return false;
    }
    if (opened->configure() != link::Status::ok) {
        report = refusal(serial, Outcome::portError, opened->detail());
        return false;
    }
    link::EepromRecord record;
    st = opened->readEeprom(record);
    if (st != link::Status::ok) {
        // The utility keeps an earlier verdict here; kplx has none to keep.
        report = refusal(serial, st == link::Status::gone ? Outcome::portError : Outcome::notAMeter,
                         "not a meter: " + opened->detail());
        return false;
    }
    unsigned deviations = core::identityDeviations(record.fields());
    if (deviations != 0) {
        report = refusal(serial, Outcome::notAMeter, "not a meter (EEPROM: " + describeDeviations(deviations, record) + ")");
        return false;
    }
    link = std::move(opened);
    return true;
}

Selection selectMeters(link::Backend &backend, const std::vector<std::string> &serials, bool all)
{
    Selection sel;
    std::vector<link::DeviceInfo> devices;
    if (backend.enumerate(devices) != link::Status::ok) {
        sel.exitCode = kExitPort;
        sel.error = "cannot list the devices: " + backend.detail();
        return sel;
    }
    std::vector<std::string> attached, unasked;
    for (const link::DeviceInfo &d : devices) {
        if (!d.serial.empty())
            attached.push_back(d.serial);
        else
            unasked.push_back(deviceName(d) + ": " + d.problem);
    }

    if (!serials.empty()) {
        std::vector<std::string> wanted;
        for (const std::string &s : serials)
            if (std::find(wanted.begin(), wanted.end(), s) == wanted.end())
                wanted.push_back(s);
        for (const std::string &s : wanted) {
            if (std::find(attached.begin(), attached.end(), s) != attached.end())
                continue;
            if (!unasked.empty()) {
                // A device that cannot be opened cannot tell its serial number: it may be this one.
                sel.exitCode = kExitPort;
                sel.error = "no device with serial number " + s + " was found, and some could not be asked (" +
                            joined(unasked) + ")";
                return sel;
            }
            sel.exitCode = kExitNoMeter;
            sel.error = "no device with serial number " + s + " is attached" +
                        (attached.empty() ? " (none is)" : " (attached: " + joined(attached) + ")");
            return sel;
        }
        for (const std::string &s : wanted) {
            ChosenMeter m{s, nullptr};
            MeterReport refused;
            if (openMeter(backend, s, m.link, refused))
                sel.meters.push_back(std::move(m));
            else
                sel.refused.push_back(refused);
        }
        return sel;
    }

    std::vector<std::string> notMeters, portTrouble = unasked;
    for (const link::DeviceInfo &d : devices) {
        if (d.serial.empty()) {
            sel.notes.push_back(deviceName(d) + ": skipped, " + d.problem);
            continue;
        }
        ChosenMeter m{d.serial, nullptr};
        MeterReport refused;
        if (openMeter(backend, d.serial, m.link, refused)) {
            sel.meters.push_back(std::move(m));
            continue;
        }
        sel.notes.push_back(d.serial + ": skipped, " + refused.message);
        (refused.outcome == Outcome::portError ? portTrouble : notMeters).push_back(d.serial + ": " + refused.message);
    }
    if (sel.meters.empty()) {
        // Say why: a port that would not open may hold the meter; otherwise none is one.
        sel.exitCode = portTrouble.empty() ? kExitNoMeter : kExitPort;
        sel.error = devices.empty()         ? "no meter attached: no FTDI device found"
                    : portTrouble.empty() ? "no meter attached (" + joined(notMeters) + ")"
                                          : "no device could be checked (" + joined(portTrouble) + ")";
        return sel;
    }
    if (!all && sel.meters.size() > 1) {
        std::vector<std::string> found;
        for (const ChosenMeter &m : sel.meters)
            found.push_back(m.serial);
        sel.meters.clear();   // closes them
        sel.exitCode = kExitUsage;
        sel.error = "several meters attached (" + joined(found) + "): name one with -s SERIAL, or load all with --all";
    }
    return sel;
}

}  // namespace kplx
