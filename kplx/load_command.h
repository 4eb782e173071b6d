// kplx load: the database of FILE into the chosen meters, in parallel, one thread and one port
// each; with --watch, the station that loads each meter as it is plugged in (station_command).
#pragma once

#include "kplx/meter_session.h"
#include "kplx/selection.h"

#include <string>
#include <vector>

namespace kplx {

struct LoadOptions {
    std::string file;
    SelectionRequest selection;
    bool raw = false;
    bool json = false;
    bool quiet = false;
    double waitSeconds = 0;   // --wait: how long the selection may take to appear (0: not at all)
    unsigned expect = 0;      // --expect N (with --all): refuse to load fewer
    unsigned jobs = 0;        // --jobs N: transfers at once (0: all)
    bool dryRun = false;
    std::string log;          // --log FILE ("" = none)
    std::string station;      // --station NAME ("" = the host name)
    bool watch = false;       // --watch: the station
    unsigned count = 0;       // --count N (with --watch): stop after N loads (0: until stopped)
    SessionOptions session;
};

int runLoad(const LoadOptions &options);

}  // namespace kplx
