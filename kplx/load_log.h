// --log FILE: a line of JSON per meter per run (JSON Lines), appended with one write and
// synced, so that several kplx processes can share one file and every load is on record before
// kplx goes on. Fed the same reports as the terminal and the --json document.
#pragma once

#include "kplx/meter_session.h"
#include "kplx/platform/append_file.h"

#include <cstdint>
#include <string>

namespace kplx {

// What every line of a run shares.
struct LogContext {
    std::string station;        // --station, else the host name
    std::string kplxVersion;
    std::string file;           // as given on the command line
    uint32_t databaseBytes = 0;
    std::string databaseSha256;
    bool dryRun = false;
};

// One line, newline included: time (UTC, milliseconds), station, kplxVersion, file,
// databaseBytes, databaseSha256, serial, location, meterVersion, result, message, attempts,
// seconds, latencyMs, dryRun.
std::string logLine(const LogContext &context, const MeterReport &report, const std::string &utcTime);

class LoadLog {
public:
    // False, with `error`, when the file cannot be opened for appending: kplx then loads nothing.
    bool open(const std::string &path, std::string &error);
    bool isOpen() const { return file_.isOpen(); }
    bool write(const LogContext &context, const MeterReport &report, std::string &error);

private:
    platform::AppendFile file_;
};

}  // namespace kplx
