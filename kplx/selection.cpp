#include "kplx/selection.h"

#include "core/identity.h"
#include "kplx/device_text.h"
#include "kplx/exit_codes.h"

#include <algorithm>
#include <map>

namespace kplx {

namespace {

std::string joined(const std::vector<std::string> &items)
{
    std::string out;
    for (const std::string &s : items)
        out += (out.empty() ? "" : ", ") + s;
    return out;
}

MeterReport refusal(const link::DeviceInfo &d, Outcome outcome, const std::string &message)
{
    MeterReport r;
    r.serial = d.serial;
    r.outcome = outcome;
    r.message = d.serial.empty() ? deviceName(d) + " (no serial number): " + message : message;
    return r;
}

// Where a device is: its port on Linux, its place in the D2XX listing elsewhere.
std::string placeOf(const link::DeviceInfo &d)
{
    return d.location.empty() ? "#" + std::to_string(d.index) : d.location;
}

// Cloned bridges often share a serial number: none of them can be told apart by it.
std::vector<MeterReport> duplicates(const std::vector<const link::DeviceInfo *> &group)
{
    std::vector<std::string> places;
    for (const link::DeviceInfo *d : group)
        places.push_back(placeOf(*d));
    std::vector<MeterReport> reports;
    for (const link::DeviceInfo *d : group)
        reports.push_back(refusal(*d, Outcome::portError,
                                  "serial number " + shownText(d->serial) + " is shared by " +
                                      std::to_string(group.size()) + " devices (" + joined(places) +
                                      "): neither is loaded by serial number"));
    return reports;
}

struct Tried {
    std::vector<ChosenMeter> meters;
    std::vector<MeterReport> notMeters;   // checked: their EEPROM says so
    std::vector<MeterReport> unchecked;   // may be meters
};

bool stopping(const std::function<bool()> &stopRequested) { return stopRequested && stopRequested(); }

void tryCandidate(link::Backend &backend, const link::DeviceInfo &d, Tried &tried,
                  const std::function<bool()> &stopRequested)
{
    ChosenMeter m{d.serial, d.location, nullptr};
    MeterReport refused;
    switch (openMeter(backend, d, m.link, refused, stopRequested)) {
    case Verdict::meter: tried.meters.push_back(std::move(m)); break;
    case Verdict::notAMeter: tried.notMeters.push_back(refused); break;
    case Verdict::unchecked: tried.unchecked.push_back(refused); break;
    }
}

void fail(Selection &sel, int code, const std::string &error)
{
    sel.meters.clear();   // closes them
    sel.refused.clear();
    sel.exitCode = code;
    sel.error = error;
}

std::vector<std::string> rawSerials(const std::vector<std::string> &shown)
{
    std::vector<std::string> raw;
    for (const std::string &s : shown)
        if (std::find(raw.begin(), raw.end(), rawText(s)) == raw.end())
            raw.push_back(rawText(s));
    return raw;
}

bool listed(const std::vector<std::string> &list, const std::string &item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

// Every name must find its device: a serial number anywhere, a port occupied, and where both
// are given, one device with both. Otherwise nothing is loaded, and the error says why.
bool namesFound(const std::vector<link::DeviceInfo> &devices, const std::vector<std::string> &wanted,
                const SelectionRequest &request, Selection &sel)
{
    std::vector<std::string> attached, unasked, occupied;
    for (const link::DeviceInfo &d : devices) {
        if (!d.problem.empty())
            unasked.push_back(deviceName(d) + ": " + d.problem);
        else if (!d.serial.empty())
            attached.push_back(shownText(d.serial) + (d.location.empty() ? "" : " at " + d.location));
        if (!d.location.empty())
            occupied.push_back(d.location);
    }
    for (const std::string &raw : wanted) {
        const bool found = std::any_of(devices.begin(), devices.end(), [&](const link::DeviceInfo &d) {
            return d.problem.empty() && d.serial == raw;
        });
        if (found)
            continue;
        const std::string shown = shownText(raw);
        if (!unasked.empty()) {
            // A device that cannot tell its serial number may be this one.
            fail(sel, kExitPort, "no device with serial number " + shown + " was found, and some could not be asked (" +
                                     joined(unasked) + ")");
        } else {
            fail(sel, kExitNoMeter, "no device with serial number " + shown + " is attached" +
                                        (attached.empty() ? " (none is)" : " (attached: " + joined(attached) + ")"));
        }
        return false;
    }
    for (const std::string &port : request.ports) {
        if (listed(occupied, port))
            continue;
        fail(sel, kExitNoMeter, "nothing is plugged in at port " + shownText(port) +
                                    (occupied.empty() ? "" : " (occupied: " + joined(occupied) + ")"));
        return false;
    }
    if (wanted.empty() || request.ports.empty())
        return true;
    // Both kinds given: each name must meet the other kind in one device.
    for (const std::string &raw : wanted) {
        if (std::any_of(devices.begin(), devices.end(),
                        [&](const link::DeviceInfo &d) { return d.serial == raw && listed(request.ports, d.location); }))
            continue;
        fail(sel, kExitNoMeter, "the device with serial number " + shownText(raw) + " is not at a port named with -p (" +
                                    joined(attached) + ")");
        return false;
    }
    for (const std::string &port : request.ports) {
        if (std::any_of(devices.begin(), devices.end(),
                        [&](const link::DeviceInfo &d) { return d.location == port && listed(wanted, d.serial); }))
            continue;
        fail(sel, kExitNoMeter, "the device at port " + shownText(port) + " has none of the serial numbers named with -s");
        return false;
    }
    return true;
}

Selection byName(link::Backend &backend, const std::vector<link::DeviceInfo> &devices, const SelectionRequest &request,
                 const std::function<bool()> &stopRequested)
{
    Selection sel;
    const std::vector<std::string> wanted = rawSerials(request.serials);
    if (!namesFound(devices, wanted, request, sel))
        return sel;

    Tried tried;
    std::vector<const link::DeviceInfo *> chosen;
    for (const link::DeviceInfo &d : devices)
        if (matches(d, request))
            chosen.push_back(&d);
    for (const link::DeviceInfo *d : chosen) {
        if (stopping(stopRequested))
            break;
        if (request.ports.empty()) {
            // Named by serial alone: cloned bridges sharing it cannot be told apart.
            std::vector<const link::DeviceInfo *> group;
            for (const link::DeviceInfo *other : chosen)
                if (other->serial == d->serial)
                    group.push_back(other);
            if (group.size() > 1) {
                if (group.front() == d) {
                    std::vector<MeterReport> dup = duplicates(group);
                    tried.unchecked.insert(tried.unchecked.end(), dup.begin(), dup.end());
                }
                continue;
            }
        }
        tryCandidate(backend, *d, tried, stopRequested);
    }
    sel.meters = std::move(tried.meters);
    sel.refused = tried.notMeters;
    sel.refused.insert(sel.refused.end(), tried.unchecked.begin(), tried.unchecked.end());
    return sel;
}

Selection bySearch(link::Backend &backend, const std::vector<link::DeviceInfo> &devices, bool all,
                   const std::function<bool()> &stopRequested)
{
    Selection sel;
    std::map<std::string, std::vector<const link::DeviceInfo *>> bySerial;
    for (const link::DeviceInfo &d : devices)
        if (d.problem.empty() && !d.serial.empty())
            bySerial[d.serial].push_back(&d);

    Tried tried;
    std::vector<std::string> passedOver;
    for (const link::DeviceInfo &d : devices) {
        // A shared serial number matters where one of the devices may be a meter: then all of
        // them are reported (by the group's first device) and none is opened.
        auto group = d.problem.empty() && !d.serial.empty() ? bySerial.find(d.serial) : bySerial.end();
        if (group != bySerial.end() && group->second.size() > 1 &&
            std::any_of(group->second.begin(), group->second.end(),
                        [](const link::DeviceInfo *m) { return isCandidate(*m); })) {
            if (group->second.front() == &d) {
                std::vector<MeterReport> dup = duplicates(group->second);
                tried.unchecked.insert(tried.unchecked.end(), dup.begin(), dup.end());
            }
            continue;
        }
        if (!d.problem.empty()) {
            tried.unchecked.push_back(refusal(d, Outcome::portError, "cannot tell whether it is a meter: " + d.problem));
            continue;
        }
        if (!isCandidate(d)) {
            const std::string why = "not a meter (description \"" + shownText(d.description) + "\")";
            sel.notes.push_back(deviceName(d) + ": skipped, " + why);
            passedOver.push_back(deviceName(d) + ": " + why);
            continue;
        }
        if (stopping(stopRequested))
            break;
        tryCandidate(backend, d, tried, stopRequested);
    }

    if (!all && !tried.meters.empty() && tried.meters.size() + tried.unchecked.size() > 1) {
        // Loading the one meter found would be a guess while another may be one too.
        std::vector<std::string> found, unsure;
        for (const ChosenMeter &m : tried.meters)
            found.push_back(shownText(m.serial));
        for (const MeterReport &r : tried.unchecked)
            unsure.push_back((r.serial.empty() ? "" : shownText(r.serial) + ": ") + r.message);
        if (unsure.empty())
            fail(sel, kExitUsage, "several meters attached (" + joined(found) +
                                      "): name one with -s SERIAL, or load all with --all");
        else
            fail(sel, kExitUsage, "cannot tell which meter to load: " + joined(found) +
                                      (found.size() > 1 ? " are meters" : " is a meter") + ", and " + joined(unsure) +
                                      ": name one with -s SERIAL, or load all with --all");
        return sel;
    }
    sel.meters = std::move(tried.meters);
    sel.refused = tried.notMeters;
    sel.refused.insert(sel.refused.end(), tried.unchecked.begin(), tried.unchecked.end());
    if (sel.meters.empty() && sel.refused.empty())
        fail(sel, kExitNoMeter, devices.empty() ? "no meter attached: no FTDI device found"
                                                : "no meter attached (" + joined(passedOver) + ")");
    return sel;
}

}  // namespace

std::string deviceName(const link::DeviceInfo &d)
{
    if (!d.serial.empty())
        return shownText(d.serial);
    return d.location.empty() ? "device " + std::to_string(d.index) : "the device at " + d.location;
}

bool isCandidate(const link::DeviceInfo &d)
{
    return !d.problem.empty() || d.description == core::kMeterDescription;
}

std::string describeDeviations(unsigned d, const link::EepromRecord &r)
{
    std::vector<std::string> parts;
    if (d & core::kDescription)
        parts.push_back("description \"" + shownText(r.description) + "\"");
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

Verdict openMeter(link::Backend &backend, const link::DeviceInfo &device, std::unique_ptr<link::MeterLink> &link,
                  MeterReport &report, const std::function<bool()> &stopRequested)
{
    link.reset();
    std::unique_ptr<link::MeterLink> opened;
    if (backend.open(device, opened) != link::Status::ok) {
        report = refusal(device, Outcome::portError, "the port cannot be opened: " + backend.detail());
        return Verdict::unchecked;
    }
    link::EepromRecord record;
    link::Status st = opened->readEeprom(record);
    if (st != link::Status::ok && stopping(stopRequested)) {
        // A signal can cut the reading short: the stop, not the device, is why.
        report = refusal(device, Outcome::interrupted, "interrupted while its EEPROM was read");
        return Verdict::unchecked;
    }
    if (st != link::Status::ok) {
        // The utility keeps an earlier verdict here; kplx has none to keep.
        report = st == link::Status::gone ? refusal(device, Outcome::portError, opened->detail())
                                          : refusal(device, Outcome::notAMeter, "not a meter: " + opened->detail());
        return Verdict::unchecked;
    }
    unsigned deviations = core::identityDeviations(record.fields());
    if (deviations != 0) {
        report = refusal(device, Outcome::notAMeter,
                         "not a meter (EEPROM: " + describeDeviations(deviations, record) + ")");
        return Verdict::notAMeter;
    }
    if (stopping(stopRequested)) {
        report = refusal(device, Outcome::interrupted, "interrupted before it was claimed");
        return Verdict::unchecked;
    }
    if (opened->claim() != link::Status::ok) {
        report = refusal(device, Outcome::portError, "the port cannot be opened: " + opened->detail());
        return Verdict::unchecked;
    }
    if (opened->configure() != link::Status::ok) {
        report = refusal(device, Outcome::portError, opened->detail());
        return Verdict::unchecked;
    }
    link = std::move(opened);
    return Verdict::meter;
}

bool matches(const link::DeviceInfo &device, const SelectionRequest &request)
{
    if (!request.serials.empty() && (!device.problem.empty() || !listed(rawSerials(request.serials), device.serial)))
        return false;
    return request.ports.empty() || listed(request.ports, device.location);
}

Selection selectFrom(link::Backend &backend, const std::vector<link::DeviceInfo> &devices, const SelectionRequest &request,
                     const std::function<bool()> &stopRequested)
{
    return request.named() ? byName(backend, devices, request, stopRequested)
                           : bySearch(backend, devices, request.all, stopRequested);
}

Selection selectMeters(link::Backend &backend, const SelectionRequest &request, const std::function<bool()> &stopRequested)
{
    std::vector<link::DeviceInfo> devices;
    if (backend.enumerate(devices) != link::Status::ok) {
        Selection sel;
        fail(sel, kExitPort, "cannot list the devices: " + backend.detail());
        return sel;
    }
    return selectFrom(backend, devices, request, stopRequested);
}

std::string missingFor(const std::vector<link::DeviceInfo> &devices, const SelectionRequest &request, unsigned expected)
{
    std::vector<std::string> missing;
    if (request.named()) {
        for (const std::string &raw : rawSerials(request.serials))
            if (std::none_of(devices.begin(), devices.end(),
                             [&](const link::DeviceInfo &d) { return d.serial == raw && matches(d, request); }))
                missing.push_back("serial number " + shownText(raw));
        for (const std::string &port : request.ports)
            if (std::none_of(devices.begin(), devices.end(),
                             [&](const link::DeviceInfo &d) { return d.location == port && matches(d, request); }))
                missing.push_back("a device at port " + shownText(port));
        return joined(missing);
    }
    const unsigned need = request.all && expected > 0 ? expected : 1;
    const auto found = static_cast<unsigned>(std::count_if(devices.begin(), devices.end(), isCandidate));
    if (found >= need)
        return "";
    if (need == 1)
        return "a meter";
    return std::to_string(need) + " meters (" + std::to_string(found) + " attached)";
}

}  // namespace kplx
