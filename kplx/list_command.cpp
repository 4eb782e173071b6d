#include "kplx/list_command.h"

#include "kplx/device_text.h"
#include "kplx/exit_codes.h"
#include "kplx/platform/interrupt.h"
#include "kplx/report_json.h"
#include "kplx/selection.h"
#include "kplx/version_query.h"
#include "link/link.h"

#include <algorithm>
#include <cstdio>

namespace kplx {

namespace {

void printTable(const std::vector<ListedDevice> &devices)
{
    if (devices.empty()) {
        std::printf("no FTDI device attached\n");
        return;
    }
    size_t locationWidth = 8, serialWidth = 6, descriptionWidth = 11;
    for (const ListedDevice &d : devices) {
        locationWidth = std::max(locationWidth, d.location.size());
        serialWidth = std::max(serialWidth, d.serial.size());
        descriptionWidth = std::max(descriptionWidth, d.description.size());
    }
    const int lw = static_cast<int>(locationWidth), sw = static_cast<int>(serialWidth),
              dw = static_cast<int>(descriptionWidth);
    std::printf("%-5s  %-*s  %-*s  %-*s  %-5s  %s\n", "index", lw, "location", sw, "serial", dw, "description", "meter",
                "version");
    for (const ListedDevice &d : devices)
        std::printf("%-5d  %-*s  %-*s  %-*s  %-5s  %s\n", d.index, lw, d.location.empty() ? "-" : d.location.c_str(), sw,
                    d.serial.empty() ? "-" : d.serial.c_str(), dw, d.description.c_str(),
                    !d.checked ? "?" : d.meter ? "yes" : "no", d.hasVersion ? d.version.c_str() : "-");
}

}  // namespace

// Every device is listed from what the system tells without opening it; only a candidate is
// opened and checked, and a meter asked for its version. A candidate that cannot be checked
// makes the exit code non-zero.
int runList(bool json)
{
    std::string error;
    std::unique_ptr<link::Backend> backend = link::openBackend(error);
    std::vector<link::DeviceInfo> infos;
    if (backend && backend->enumerate(infos) != link::Status::ok)
        error = "cannot list the devices: " + backend->detail();
    if (!error.empty()) {
        std::fprintf(stderr, "kplx: %s\n", error.c_str());
        return kExitPort;
    }

    int exitCode = kExitOk;
    std::vector<ListedDevice> devices;
    for (const link::DeviceInfo &info : infos) {
        // Between devices, each closed by now: a partial list would pass for the whole one.
        if (platform::interrupted()) {
            std::fprintf(stderr, "kplx: interrupted after %zu of %zu devices; nothing listed\n", devices.size(),
                         infos.size());
            return kExitInterrupted;
        }
        ListedDevice d;
        int failure = kExitPort;   // what an unchecked candidate makes of the exit code
        d.index = info.index;
        d.location = shownText(info.location);
        d.serial = shownText(info.serial);
        d.description = shownText(info.description);
        if (!isCandidate(info)) {
            d.checked = true;   // its descriptors say it is not a meter
        } else if (!info.problem.empty()) {
            d.problem = "cannot tell whether it is a meter: " + info.problem;
        } else {
            std::unique_ptr<link::MeterLink> link;
            MeterReport refusal;
            Verdict verdict = openMeter(*backend, info, link, refusal);
            d.checked = verdict != Verdict::unchecked;
            d.meter = verdict == Verdict::meter;
            if (d.meter && askVersion(*link, d.version)) {
                d.hasVersion = true;
                d.version = shownText(d.version);
            }
            if (!d.checked) {
                d.problem = refusal.message;
                failure = exitCodeOf(refusal.outcome);
            }
        }
        if (!d.checked) {
            std::fprintf(stderr, "kplx: %s: %s\n", deviceName(info).c_str(), d.problem.c_str());
            exitCode = std::max(exitCode, failure);   // a port problem (4) before an unreadable EEPROM (3)
        }
        devices.push_back(d);
    }
    if (json)
        std::printf("%s\n", listJson(devices).c_str());
    else
        printTable(devices);
    return exitCode;
}

}  // namespace kplx
