// kplx load: the database of FILE into the chosen meters, in parallel, one thread and one port
// each.
#pragma once

#include "kplx/meter_session.h"

#include <string>
#include <vector>

namespace kplx {

struct LoadOptions {
    std::string file;
    std::vector<std::string> serials;
    bool all = false;
    bool raw = false;
    bool json = false;
    bool quiet = false;
    SessionOptions session;
};

int runLoad(const LoadOptions &options);

}  // namespace kplx
