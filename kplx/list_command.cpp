#include "kplx/list_command.h"

#include "core/frame.h"
#include "core/replies.h"
#include "kplx/device_text.h"
#include "kplx/exit_codes.h"
#include "kplx/platform/interrupt.h"
#include "kplx/report_json.h"
#include "kplx/selection.h"
#include "link/link.h"

#include <algorithm>
#include <cstdio>

namespace kplx {

namespace {

constexpr char kVersionCommand[] = "VERSION";

// The utility's version query: timeouts 200 / 1000 ms, both purges, "VERSION", then up to five
// reads of 100 bytes until the answer the frame announces is in.
bool askVersion(link::MeterLink &link, std::string &version)
{
    link.setTimeouts(core::VersionAnswer::kReadTimeoutMs, core::VersionAnswer::kWriteTimeoutMs);
    link.purgeReceive();
    link.purgeTransmit();
    uint8_t frame[core::kMaxFrameSize];
    size_t size = core::buildFrame(kVersionCommand, sizeof kVersionCommand - 1, frame);
    if (link.write(frame, size) != link::Status::ok)
        return false;

    core::VersionAnswer answer;
    uint8_t chunk[core::VersionAnswer::kChunkSize] = {};
    while (answer.wantsMore()) {
        size_t got = 0;
        if (link.read(chunk, sizeof chunk, got) != link::Status::ok) {
            answer.fail();
            break;
        }
        answer.add(chunk, got);
    }
    char text[core::VersionAnswer::kTextSize];
    if (answer.text(text, sizeof text) < 0)
        return false;
    version = text;
    return true;
}

void printTable(const std::vector<ListedDevice> &devices)
{
    if (devices.empty()) {
        std::printf("no FTDI device attached\n");
        return;
    }
    size_t serialWidth = 6, descriptionWidth = 11;
    for (const ListedDevice &d : devices) {
        serialWidth = std::max(serialWidth, d.serial.size());
        descriptionWidth = std::max(descriptionWidth, d.description.size());
    }
    const int sw = static_cast<int>(serialWidth), dw = static_cast<int>(descriptionWidth);
    std::printf("%-5s  %-*s  %-*s  %-5s  %s\n", "index", sw, "serial", dw, "description", "meter", "version");
    for (const ListedDevice &d : devices)
        std::printf("%-5d  %-*s  %-*s  %-5s  %s\n", d.index, sw, d.serial.empty() ? "-" : d.serial.c_str(), dw,
                    d.description.c_str(), !d.checked ? "?" : d.meter ? "yes" : "no",
                    d.hasVersion ? d.version.c_str() : "-");
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
