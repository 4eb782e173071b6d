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
    int exitCode = 0;
    std::string error;              // why nothing was loaded ("" when meters were tried)
    std::vector<MeterReport> meters;
};

struct ListedDevice {
    int index = 0;
    std::string serial;             // "" where the device could not be asked
    std::string description;
    bool meter = false;
    bool hasVersion = false;
    std::string version;
};

std::string loadJson(const LoadSummary &summary);
std::string listJson(const std::vector<ListedDevice> &devices);

}  // namespace kplx
