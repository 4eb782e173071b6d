// The JSON documents of --json: one for a load, one for a listing.
#pragma once

#include "kplx/meter_session.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kplx {

struct LoadSummary {
    std::string file;
    bool fileRead = false;          // databaseBytes and blocks are known
    uint32_t databaseBytes = 0;
    uint64_t blocks = 0;
    std::string databaseSha256;     // of the database's bytes, as a load log gives it
    bool dryRun = false;
    int exitCode = 0;
    std::string error;              // why nothing was loaded ("" when meters were tried)
    std::vector<MeterReport> meters;
};

// Device strings here are in the shown form (shownText).
struct ListedDevice {
    int index = 0;
    std::string location;           // "" where the system does not tell
    std::string serial;             // "" where the device has none or could not be asked
    std::string description;
    bool checked = false;           // whether `meter` is known
    bool meter = false;
    bool hasVersion = false;
    std::string version;
    std::string problem;            // why a candidate could not be checked
};

std::string loadJson(const LoadSummary &summary);
std::string listJson(const std::vector<ListedDevice> &devices);

}  // namespace kplx
